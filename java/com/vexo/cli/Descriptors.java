package com.vexo.cli;

import java.lang.reflect.Executable;
import java.lang.reflect.Method;

/** JVM type and method descriptors of reflected types and members. */
final class Descriptors {
    private Descriptors() {}

    static String of(Class<?> t) {
        if (t.isArray()) return t.getName().replace('.', '/');
        if (t == void.class) return "V";
        if (t == int.class) return "I";
        if (t == long.class) return "J";
        if (t == float.class) return "F";
        if (t == double.class) return "D";
        if (t == short.class) return "S";
        if (t == byte.class) return "B";
        if (t == boolean.class) return "Z";
        if (t == char.class) return "C";
        return "L" + t.getName().replace('.', '/') + ";";
    }

    static String of(Executable e) {
        StringBuilder b = new StringBuilder("(");
        for (Class<?> p : e.getParameterTypes()) b.append(of(p));
        b.append(')');
        b.append(e instanceof Method ? of(((Method) e).getReturnType()) : "V");
        return b.toString();
    }
}
