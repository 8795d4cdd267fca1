package vexotest;

/**
 * What the field site tests' rewritten code calls, with the field hook's methods: each access
 * is logged as "r|w id value object;" (object: its class's name without the package, "-" for a static).
 */
public final class FieldSitesHook {
    public static final StringBuilder log = new StringBuilder();

    private FieldSitesHook() {}

    private static void note(char what, Object object, Object value, int id) {
        log.append(what).append(id).append(' ').append(value).append(' ')
                .append(object == null ? "-" : nameOf(object.getClass())).append(';');
    }

    // The binary name without its package (getSimpleName would consult the outer class, which
    // a class defined in a loader of its own may disagree with).
    private static String nameOf(Class<?> c) {
        return c.getName().substring(c.getName().lastIndexOf('.') + 1);
    }

    public static int readI(Object o, int v, int id) { note('r', o, v, id); return v; }
    public static long readJ(Object o, long v, int id) { note('r', o, v, id); return v; }
    public static float readF(Object o, float v, int id) { note('r', o, v, id); return v; }
    public static double readD(Object o, double v, int id) { note('r', o, v, id); return v; }
    public static Object readL(Object o, Object v, int id) { note('r', o, v, id); return v; }
    public static void writeI(Object o, int v, int id) { note('w', o, v, id); }
    public static long writeJ(long v, Object o, int id) { note('w', o, v, id); return v; }
    public static void writeF(Object o, float v, int id) { note('w', o, v, id); }
    public static double writeD(double v, Object o, int id) { note('w', o, v, id); return v; }
    public static void writeL(Object o, Object v, int id) { note('w', o, v, id); }
}
