package vexobench;

import com.vexo.TracePoints;

/**
 * The JDBC workload (JdbcWorkload on H2's embedded in-memory database) under one tracing
 * configuration per JVM, chosen by the first argument:
 *   plain R    untraced (run it with and without the agent)
 *   methods R  method trace points on the driver's JdbcPreparedStatement.executeUpdate()I and
 *              executeQuery(); in debug mode or, with the agent option nojvmdi, in profiler mode
 *   field R    a field trace point on JdbcPreparedStatement.command, which every statement reads
 * R rounds in the timed loop. The trace points are armed first, then at least R rounds and three
 * seconds warm the JIT up and a short pass counts the events a round records; the timed loop
 * runs from its first round until every event its rounds recorded has been delivered.
 * Prints one line: RESULT name ns/round, and the events recorded per round.
 */
public final class JdbcBench {
    static final String URL = "jdbc:h2:mem:";
    static final String STATEMENT_CLASS = "org.h2.jdbc.JdbcPreparedStatement";
    static final int COUNTING_ROUNDS = 200;
    static final long WARM_UP_NS = 3_000_000_000L;
    static volatile long sink;

    public static void main(String[] args) throws Exception {
        String mode = args[0];
        int rounds = Integer.parseInt(args[1]);
        BenchMain.Tracing tracing = null;
        switch (mode) {
            case "plain": break;
            case "methods":
                tracing = BenchMain.Tracing.start();
                arm(method("executeUpdate", "()I"), method("executeQuery", "()Ljava/sql/ResultSet;"));
                break;
            case "field":
                tracing = BenchMain.Tracing.start();
                arm(field("command", "Lorg/h2/command/CommandInterface;"));
                break;
            default: throw new IllegalArgumentException(mode);
        }
        try (JdbcWorkload w = new JdbcWorkload(URL)) {
            warmUp(w, rounds);
            double perRound = 0;
            if (tracing != null) {
                long before = settled(tracing);
                sink += w.run(COUNTING_ROUNDS);
                perRound = (settled(tracing) - before) / (double) COUNTING_ROUNDS;
                if (perRound < 1) throw new IllegalStateException("the trace points recorded nothing");
            }
            long start = System.nanoTime();
            long first = tracing == null ? 0 : tracing.delivered.get();
            sink += w.run(rounds);
            if (tracing != null) awaitDelivery(tracing, first + (long) Math.floor(perRound * rounds));
            double ns = (System.nanoTime() - start) / (double) rounds;
            System.out.printf("RESULT jdbc-%s %.1f ns/round %.2f events/round%n", mode, ns, perRound);
        }
    }

    /** Passes of a quarter of `rounds` until `rounds` rounds and WARM_UP_NS have passed. */
    static void warmUp(JdbcWorkload w, int rounds) throws java.sql.SQLException {
        int pass = Math.max(1, rounds / 4);
        long start = System.nanoTime();
        for (long done = 0; done < rounds || System.nanoTime() - start < WARM_UP_NS; done += pass) {
            sink += w.run(pass);
        }
    }

    static TracePoints.TracePoint method(String name, String descriptor) {
        TracePoints.TracePoint p = new TracePoints.TracePoint();
        p.m_strClass = STATEMENT_CLASS;
        p.m_strMethodOrFieldName = name;
        p.m_strMethodOrFieldSignature = descriptor;
        return p;
    }

    static TracePoints.TracePoint field(String name, String descriptor) {
        TracePoints.TracePoint p = method(name, descriptor);
        p.m_iFlags = TracePoints.FIELD | TracePoints.VALUE_OBJECT;
        return p;
    }

    static void arm(TracePoints.TracePoint... points) {
        TracePoints list = new TracePoints();
        list.m_iMaxNumTraces = Integer.MAX_VALUE;
        list.m_TracePoints = points;
        com.vexo.NativeApi.nativeActivateTracePoints(list);
        for (TracePoints.TracePoint p : points) {
            if ((p.m_iFlags & TracePoints.ARMED) == 0) {
                throw new IllegalStateException("not armed: " + p.m_strClass + "." + p.m_strMethodOrFieldName);
            }
        }
    }

    /** The delivered count once it has stopped growing for 200 ms. */
    static long settled(BenchMain.Tracing t) throws InterruptedException {
        long seen = t.delivered.get();
        while (true) {
            Thread.sleep(200);
            long now = t.delivered.get();
            if (now == seen) return now;
            seen = now;
        }
    }

    /** Spins until `count` events were delivered; fails when delivery stalls for a second short of it. */
    static void awaitDelivery(BenchMain.Tracing t, long count) {
        long seen = t.delivered.get();
        long since = System.nanoTime();
        while (seen < count) {
            Thread.onSpinWait();
            long now = t.delivered.get();
            if (now != seen) {
                seen = now;
                since = System.nanoTime();
            } else if (System.nanoTime() - since > 1_000_000_000L) {
                throw new IllegalStateException("delivery stalled at " + seen + " of " + count + " events");
            }
        }
    }
}
