package vexoit;

import java.util.Objects;

/** Assertions that fail the test program (exit status 1 through an uncaught error). */
final class Check {
    private Check() {}

    static void that(boolean condition, String what) {
        if (!condition) throw new AssertionError("expected: " + what);
    }

    static void equal(Object expected, Object actual, String what) {
        if (!Objects.equals(expected, actual)) {
            throw new AssertionError(what + ": expected <" + expected + "> but was <" + actual + ">");
        }
    }

    /** Runs the named test cases in order, printing each; the first failure ends the program. */
    static void run(String suite, Case... cases) throws Exception {
        for (Case c : cases) {
            System.out.println("[ RUN  ] " + suite + "." + c.name);
            c.body.run();
            System.out.println("[  OK  ] " + suite + "." + c.name);
        }
    }

    interface Body {
        void run() throws Exception;
    }

    static final class Case {
        final String name;
        final Body body;

        Case(String name, Body body) {
            this.name = name;
            this.body = body;
        }
    }

    static Case test(String name, Body body) {
        return new Case(name, body);
    }
}
