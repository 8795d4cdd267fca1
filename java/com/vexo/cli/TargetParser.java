package com.vexo.cli;

import com.vexo.TracePoints;
import java.lang.reflect.Constructor;
import java.lang.reflect.Executable;
import java.lang.reflect.Field;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.List;

/**
 * Turns the user's trace point texts into targets, checked against the classes themselves.
 *
 * <p>A method is {@code CLASS.NAME} (every overload of that name, declared in the class or
 * inherited) or {@code CLASS.NAME(DESCRIPTOR)} with a JVM method descriptor such as
 * {@code (J)V}; constructors are named {@code <init>}. A method may end in {@code @args},
 * {@code @exits} or {@code @args,exits} (also spelt {@code exit}): the agent then records the
 * arguments at each entry, every exit, or both. A field is {@code CLASS.NAME}. Classes
 * are named with dots, nested classes with {@code $}. The classes are looked up without being
 * initialised.
 */
public final class TargetParser {
    private final ClassLoader loader;

    public TargetParser(ClassLoader loader) {
        this.loader = loader;
    }

    public List<Target> method(String text) throws TraceSetupException {
        int at = text.indexOf('@');
        int requested = at >= 0 ? requests(text, text.substring(at + 1)) : 0;
        String member = at >= 0 ? text.substring(0, at) : text;
        String signature = null;
        String path = member;
        int paren = member.indexOf('(');
        if (paren >= 0) {
            signature = member.substring(paren);
            path = member.substring(0, paren);
            if (!signature.matches("\\([^()]*\\)[^()]+")) {
                throw bad(text, "CLASS.METHOD or CLASS.METHOD(DESCRIPTOR), e.g. demo.Account.deposit(J)V");
            }
        }
        String[] parts = split(text, path, "CLASS.METHOD or CLASS.METHOD(DESCRIPTOR), e.g. demo.Account.deposit(J)V");
        Class<?> type = find(parts[0]);
        List<Target> found = new ArrayList<>();
        for (Executable e : executables(type, parts[1])) {
            String descriptor = Descriptors.of(e);
            if (signature != null && !signature.equals(descriptor)) continue;
            int flags = Modifier.isStatic(e.getModifiers()) ? TracePoints.STATIC : 0;
            if (found.stream().anyMatch(t -> t.point.m_strMethodOrFieldSignature.equals(descriptor))) {
                continue;  // overridden further down: the class's own method is the one resolved
            }
            found.add(new Target(parts[0] + "." + parts[1] + descriptor, flags | requested, parts[0], parts[1], descriptor));
        }
        if (found.isEmpty()) {
            throw new TraceSetupException(parts[0] + " has no method " + parts[1]
                    + (signature != null ? signature : "") + describeCandidates(type, parts[1]));
        }
        return found;
    }

    /** The trace point bits a method's {@code @} suffix asks for: {@code args}, {@code exits}, comma-separated. */
    private static int requests(String text, String suffix) throws TraceSetupException {
        int bits = 0;
        for (String word : suffix.split(",", -1)) {
            switch (word) {
                case "args": bits |= TracePoints.ARGUMENTS; break;
                case "exit": case "exits": bits |= TracePoints.EXIT; break;
                default: throw bad(text, "args, exits or args,exits after '@', e.g. demo.Account.withdraw@args,exits");
            }
        }
        return bits;
    }

    public Target field(String text) throws TraceSetupException {
        String[] parts = split(text, text, "CLASS.FIELD, e.g. demo.Account.balance");
        Class<?> type = find(parts[0]);
        for (Class<?> c = type; c != null; c = c.getSuperclass()) {
            for (Field f : c.getDeclaredFields()) {
                if (!f.getName().equals(parts[1])) continue;
                int flags = TracePoints.FIELD | valueKind(f.getType());
                if (Modifier.isStatic(f.getModifiers())) flags |= TracePoints.STATIC;
                return new Target(parts[0] + "." + parts[1], flags, parts[0], parts[1],
                        Descriptors.of(f.getType()));
            }
        }
        throw new TraceSetupException(parts[0] + " has no field " + parts[1]);
    }

    /** The value kind the agent records for a field of this type. */
    static int valueKind(Class<?> t) {
        if (t == int.class) return TracePoints.VALUE_INT;
        if (t == long.class) return TracePoints.VALUE_LONG;
        if (t == float.class) return TracePoints.VALUE_FLOAT;
        if (t == double.class) return TracePoints.VALUE_DOUBLE;
        if (t == short.class) return TracePoints.VALUE_SHORT;
        if (t == byte.class) return TracePoints.VALUE_BYTE;
        if (t == boolean.class) return TracePoints.VALUE_BOOLEAN;
        if (t == char.class) return TracePoints.VALUE_CHAR;
        return TracePoints.VALUE_OBJECT;
    }

    private static String[] split(String text, String path, String expected) throws TraceSetupException {
        int dot = path.lastIndexOf('.');
        if (dot <= 0 || dot == path.length() - 1 || path.contains("/") || path.contains(" ")) {
            throw bad(text, expected);
        }
        return new String[] {path.substring(0, dot), path.substring(dot + 1)};
    }

    private static TraceSetupException bad(String text, String expected) {
        return new TraceSetupException("bad trace point '" + text + "': expected " + expected);
    }

    private Class<?> find(String name) throws TraceSetupException {
        try {
            return Class.forName(name, false, loader);
        } catch (ClassNotFoundException | LinkageError e) {
            throw new TraceSetupException("unknown class " + name + " (not found on the class path)");
        }
    }

    /** The methods (or constructors) of that name the class declares or inherits, nearest first. */
    private static List<Executable> executables(Class<?> type, String name) {
        List<Executable> all = new ArrayList<>();
        if (name.equals("<init>")) {
            for (Constructor<?> c : type.getDeclaredConstructors()) all.add(c);
            return all;
        }
        for (Class<?> c = type; c != null; c = c.getSuperclass()) {
            for (Method m : c.getDeclaredMethods()) {
                if (m.getName().equals(name) && !m.isBridge()) all.add(m);
            }
        }
        for (Class<?> i : type.getInterfaces()) {
            for (Method m : i.getDeclaredMethods()) {
                if (m.getName().equals(name) && m.isDefault()) all.add(m);
            }
        }
        return all;
    }

    private static String describeCandidates(Class<?> type, String name) {
        StringBuilder b = new StringBuilder();
        for (Executable e : executables(type, name)) {
            b.append(b.length() == 0 ? " (it has " : ", ").append(name).append(Descriptors.of(e));
        }
        return b.length() == 0 ? "" : b.append(')').toString();
    }
}
