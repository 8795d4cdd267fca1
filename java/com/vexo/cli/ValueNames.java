package com.vexo.cli;

import java.util.Map;
import java.util.WeakHashMap;

/**
 * What the agent reads of a value for the tracer without running the program's code: an
 * exception's message as the exception holds it (never its {@code getMessage}, which the
 * program may override), and the method that holds a lambda's code. Null where the agent cannot
 * tell (its natives are not bound: the tracer outside the agent).
 */
final class ValueNames {
    private ValueNames() {}

    private static volatile boolean unbound;
    /** A lambda class's target, or "" for a class that is none; read on the consumer thread. */
    private static final Map<Class<?>, String> LAMBDAS = new WeakHashMap<>();

    /** The exception's own message (its detailMessage field), or null. */
    static String message(Throwable e) {
        if (unbound) return null;
        try {
            return AgentNatives.thrownMessage(e);
        } catch (UnsatisfiedLinkError notBound) {
            unbound = true;
            return null;
        }
    }

    /** {@code app.Main.lambda$main$0} for a lambda's class, or null for any other class. */
    static String lambdaTarget(Class<?> c) {
        String name = c.getName();
        // A hidden class the lambda metafactory spun: Main$$Lambda$20/0x... (Main$$Lambda/0x... from JDK 21).
        if (unbound || !name.contains("$$Lambda") || name.indexOf('/') < 0) return null;
        synchronized (LAMBDAS) {
            String known = LAMBDAS.get(c);
            if (known == null) {
                try {
                    known = AgentNatives.lambdaTarget(c);
                } catch (UnsatisfiedLinkError notBound) {
                    unbound = true;
                    return null;
                }
                if (known == null) known = "";
                LAMBDAS.put(c, known);
            }
            return known.isEmpty() ? null : known;
        }
    }
}
