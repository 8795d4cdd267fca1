package vexobench;

import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.sql.Statement;

/**
 * A real driver's work: an embedded in-memory database (whatever JDBC driver answers the URL,
 * H2 for jdbc:h2:mem:) and three prepared statements in a loop. Each round inserts a row
 * (executeUpdate), reads back an earlier one by its key (executeQuery) and deletes the oldest
 * (executeUpdate), so the table stays at WINDOW rows and a round costs the same in a short run
 * as in a long one.
 */
final class JdbcWorkload implements AutoCloseable {
    static final int WINDOW = 1000;
    private static final String[] OWNERS = {
        "alice", "bob", "carol", "dave", "erin", "frank", "grace", "heidi",
        "ivan", "judy", "mallory", "niaj", "olivia", "peggy", "rupert", "sybil",
    };

    private final Connection connection;
    private final PreparedStatement insert;
    private final PreparedStatement select;
    private final PreparedStatement delete;
    private int next;  // the key of the next row inserted; rows next - WINDOW .. next - 1 exist

    JdbcWorkload(String url) throws SQLException {
        connection = DriverManager.getConnection(url);
        try (Statement s = connection.createStatement()) {
            s.execute("CREATE TABLE account(id INT PRIMARY KEY, owner VARCHAR(16), balance BIGINT)");
        }
        insert = connection.prepareStatement("INSERT INTO account VALUES (?, ?, ?)");
        select = connection.prepareStatement("SELECT owner, balance FROM account WHERE id = ?");
        delete = connection.prepareStatement("DELETE FROM account WHERE id = ?");
        for (; next < WINDOW; next++) insertRow(next);
    }

    private int insertRow(int id) throws SQLException {
        insert.setInt(1, id);
        insert.setString(2, OWNERS[id & 15]);
        insert.setLong(3, id * 7L);
        return insert.executeUpdate();
    }

    /** n rounds; returns a checksum so nothing is elided. Throws when a row is not where it must be. */
    long run(int n) throws SQLException {
        long sum = 0;
        for (int i = 0; i < n; i++) {
            int id = next++;
            int changed = insertRow(id);
            int wanted = id - WINDOW / 2;
            select.setInt(1, wanted);
            try (ResultSet r = select.executeQuery()) {
                if (!r.next()) throw new IllegalStateException("row " + wanted + " missing");
                if (r.getLong(2) != wanted * 7L) throw new IllegalStateException("row " + wanted + " changed");
                sum += r.getLong(2) + r.getString(1).length();
            }
            delete.setInt(1, id - WINDOW);
            changed += delete.executeUpdate();
            if (changed != 2) throw new IllegalStateException("round " + id + " changed " + changed + " rows");
            sum += changed;
        }
        return sum;
    }

    @Override
    public void close() throws SQLException {
        connection.close();
    }
}
