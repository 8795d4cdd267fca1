package vexotest;

import java.util.ArrayList;
import java.util.List;

/**
 * What the method probe tests' rewritten code calls, with the method hook's methods: each call
 * is logged as one entry ending in ';': "arg<K> value", "enter id receiver",
 * "exit<K> id receiver [value]" and "thrown id receiver #n", where the receiver is its class's
 * name without the package ("-" for null) and n is the exception's place in `exceptions` (the
 * same object keeps its place).
 */
public final class ProbeHook {
    public static final StringBuilder log = new StringBuilder();
    public static final List<Throwable> exceptions = new ArrayList<>();

    private ProbeHook() {}

    private static String nameOf(Class<?> c) {
        return c.getName().substring(c.getName().lastIndexOf('.') + 1);
    }

    private static String receiver(Object o) {
        return o == null ? "-" : nameOf(o.getClass());
    }

    // Strings and boxed values as themselves, arrays as their element type and length, other
    // objects by their class (never their own toString).
    private static String value(Object v) {
        if (v == null || v instanceof String || v instanceof Number || v instanceof Character) {
            return String.valueOf(v);
        }
        if (v.getClass().isArray()) {
            return v.getClass().getComponentType().getName() + "[" + java.lang.reflect.Array.getLength(v) + "]";
        }
        return nameOf(v.getClass());
    }

    private static void note(String entry) {
        log.append(entry).append(';');
    }

    private static void exit(char kind, Object receiver, int id, String value) {
        note("exit" + kind + " " + id + " " + receiver(receiver) + (value == null ? "" : " " + value));
    }

    public static void argI(int v) { note("argI " + v); }
    public static void argJ(long v) { note("argJ " + v); }
    public static void argF(float v) { note("argF " + v); }
    public static void argD(double v) { note("argD " + v); }
    public static void argL(Object v) { note("argL " + value(v)); }

    public static void enter(Object receiver, int id) { note("enter " + id + " " + receiver(receiver)); }

    // A timed probe's calls: its id only.
    public static void timedEnter(int id) { note("timedEnter " + id); }
    public static void timedExit(int id) { note("timedExit " + id); }
    public static void timedThrown(int id) { note("timedThrown " + id); }

    // The entries handed their arguments with them (methods of few parameters), logged as the
    // calls they spare.
    public static void enterI(int a, Object receiver, int id) { argI(a); enter(receiver, id); }
    public static void enterF(float a, Object receiver, int id) { argF(a); enter(receiver, id); }
    public static void enterD(double a, Object receiver, int id) { argD(a); enter(receiver, id); }
    public static void enterL(Object a, Object receiver, int id) { argL(a); enter(receiver, id); }
    public static void enterIL(int a, Object b, Object receiver, int id) { argI(a); argL(b); enter(receiver, id); }

    public static void exitV(Object receiver, int id) { exit('V', receiver, id, null); }
    public static void exitI(int v, Object receiver, int id) { exit('I', receiver, id, String.valueOf(v)); }
    public static void exitJ(long v, Object receiver, int id) { exit('J', receiver, id, String.valueOf(v)); }
    public static void exitF(float v, Object receiver, int id) { exit('F', receiver, id, String.valueOf(v)); }
    public static void exitD(double v, Object receiver, int id) { exit('D', receiver, id, String.valueOf(v)); }
    public static void exitL(Object v, Object receiver, int id) { exit('L', receiver, id, value(v)); }

    public static void thrown(Throwable t, Object receiver, int id) {
        int n = 0;
        while (n < exceptions.size() && exceptions.get(n) != t) ++n;
        if (n == exceptions.size()) exceptions.add(t);
        note("thrown " + id + " " + receiver(receiver) + " #" + n);
    }
}
