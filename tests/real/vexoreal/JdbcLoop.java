package vexoreal;

import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.sql.Statement;
import java.util.ArrayList;
import java.util.List;

/**
 * A JDBC workload whose statement counts are fixed: on an in-memory database, N rounds of a
 * freshly prepared insert (executeUpdate) and a freshly prepared select of the row just written
 * (executeQuery). Prints what it reads, so two runs compare byte for byte. With "gc", each
 * round ends with a collection, so what the round let go is collected while its trace events
 * may still be on their way. With "pause=MS", each round ends with a pause (a program running long
 * enough to be attached to).
 *   JdbcLoop JDBC_URL N [gc] [pause=MS]
 */
public final class JdbcLoop {
    /** Every prepared statement, kept reachable until the VM ends (events name them later). */
    static final List<PreparedStatement> STATEMENTS = new ArrayList<>();

    private static void sleep(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    public static void main(String[] args) throws SQLException {
        String url = args[0];
        int n = Integer.parseInt(args[1]);
        boolean collect = false;
        long pause = 0;
        for (int a = 2; a < args.length; a++) {
            if (args[a].equals("gc")) collect = true;
            if (args[a].startsWith("pause=")) pause = Long.parseLong(args[a].substring(6));
        }
        long checksum = 0;
        try (Connection c = DriverManager.getConnection(url)) {
            try (Statement s = c.createStatement()) {
                s.execute("CREATE TABLE item (id INT PRIMARY KEY, name VARCHAR(40), qty INT)");
            }
            for (int i = 0; i < n; i++) {
                PreparedStatement insert = c.prepareStatement("INSERT INTO item (id, name, qty) VALUES (?, ?, ?)");
                STATEMENTS.add(insert);
                insert.setInt(1, i);
                insert.setString(2, "item-" + i);
                insert.setInt(3, i * 7 % 13);
                int rows = insert.executeUpdate();
                insert.close();

                PreparedStatement select = c.prepareStatement("SELECT name, qty FROM item WHERE id = ?");
                STATEMENTS.add(select);
                select.setInt(1, i);
                try (ResultSet r = select.executeQuery()) {
                    if (!r.next()) throw new IllegalStateException("row " + i + " not found");
                    System.out.println(rows + " " + r.getString(1) + " " + r.getInt(2));
                    checksum = checksum * 31 + r.getInt(2);
                }
                select.close();
                if (collect) System.gc();
                if (pause > 0) sleep(pause);
            }
            System.out.println("statement class " + STATEMENTS.get(0).getClass().getName());
        }
        System.out.println("rounds " + n + " checksum " + checksum);
    }
}
