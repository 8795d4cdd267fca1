package com.vexo.cli;

import com.vexo.TracePoints;
import java.util.regex.Pattern;

/**
 * A trace point as the user wrote it, before any class is known: which classes it names and which
 * of their members.
 *
 * <p>A method is {@code CLASS.NAME} (every overload of that name, declared in the class or
 * inherited) or {@code CLASS.NAME(DESCRIPTOR)} with a JVM method descriptor such as {@code (J)V};
 * constructors are named {@code <init>}. It may end in {@code @args}, {@code @exits} or
 * {@code @args,exits} (or {@code @args+exits}, which an agent option string can hold), or
 * {@code @timing} (its calls counted and timed, not recorded); {@code @exits>1ms} (a duration in
 * ns, us, ms or s) records a call's entry and exit only when it took at least that long; and
 * {@code stack} or {@code stack=N} among them: the stack of every event, N frames at most (16 by
 * default, 256 at most). A field is {@code CLASS.NAME}, which may end in {@code @stack} or
 * {@code @stack=N}. Classes are named with dots, nested classes with {@code $}.
 *
 * <p>Patterns: {@code *} in a class name stands for any run of characters within a package name
 * segment, {@code **} for any run at all; {@code *} in a member name for any run. So
 * {@code demo.Account.*} names every method (or field) declared in demo.Account, {@code demo.*.*}
 * every class of the package demo, and {@code demo.**} every class of demo and its subpackages.
 * {@code Type+.NAME} names the method in Type and in every subtype that declares it, so an
 * interface method traces its implementations.
 *
 * <p>A trace point that no class can match (an empty name between dots, a character no Java name
 * has, a descriptor that is not one) is refused as it is read, with the reason.
 */
final class PointPattern {
    final String text;
    final boolean field;
    /** The class name, or for a subtype pattern the super type's name. */
    final String className;
    final boolean subtypes;
    final String member;
    /** The descriptor asked for, or null for every overload. */
    final String descriptor;
    /** What else the trace point asks for: {@link TracePoints#ARGUMENTS}, {@link TracePoints#EXIT}, {@link TracePoints#TIMING}, {@link TracePoints#STACK}. */
    final int requested;
    /** With {@link TracePoints#STACK}: the frames asked for (0: the agent's default). */
    final int stackDepth;
    /** With {@code @exits>DURATION}: the shortest call recorded, in ns (0: every call). */
    final long minNanos;
    private final Pattern classPattern;  // null: the name itself
    private final Pattern memberPattern;  // null: the name itself

    private PointPattern(String text, boolean field, String className, boolean subtypes, String member, String descriptor,
            int requested, int stackDepth) {
        this.stackDepth = stackDepth;
        this.text = text;
        this.field = field;
        this.className = className;
        this.subtypes = subtypes;
        this.member = member;
        this.descriptor = descriptor;
        this.requested = requested;
        this.minNanos = text.contains("@") ? threshold(text.substring(text.indexOf('@') + 1)) : 0;
        classPattern = className.contains("*") ? Pattern.compile(glob(className, true)) : null;
        memberPattern = member.contains("*") ? Pattern.compile(glob(member, false)) : null;
    }

    static PointPattern method(String text) throws TraceSetupException {
        String expected = "CLASS.METHOD or CLASS.METHOD(DESCRIPTOR), e.g. demo.Account.deposit(J)V";
        int at = text.indexOf('@');
        int[] depth = {0};
        int requested = at >= 0 ? requests(text, text.substring(at + 1), false, depth) : 0;
        String path = at >= 0 ? text.substring(0, at) : text;
        String descriptor = null;
        int paren = path.indexOf('(');
        if (paren >= 0) {
            descriptor = path.substring(paren);
            path = path.substring(0, paren);
            String why = descriptorProblem(descriptor);
            if (why != null) throw because(text, why);
        }
        String[] parts = split(text, path, expected);
        checkNames(text, parts, false);
        return new PointPattern(text, false, stripPlus(parts[0]), parts[0].endsWith("+"), parts[1], descriptor, requested,
                depth[0]);
    }

    static PointPattern field(String text) throws TraceSetupException {
        int at = text.indexOf('@');
        int[] depth = {0};
        int requested = at >= 0 ? requests(text, text.substring(at + 1), true, depth) : 0;
        String path = at >= 0 ? text.substring(0, at) : text;
        if (path.contains("(")) throw bad(text, "CLASS.FIELD: descriptors are for methods");
        String[] parts = split(text, path, "CLASS.FIELD, e.g. demo.Account.balance");
        if (parts[0].endsWith("+")) throw bad(text, "CLASS.FIELD: subtypes (+) are for methods");
        checkNames(text, parts, true);
        return new PointPattern(text, true, parts[0], false, parts[1], null, requested, depth[0]);
    }

    /**
     * The trace point bits an {@code @} suffix asks for: {@code args}, {@code exits},
     * {@code exits>1ms}, {@code timing} (methods), {@code stack} or {@code stack=N} (both);
     * {@code depth[0]} learns N.
     */
    private static int requests(String text, String suffix, boolean field, int[] depth) throws TraceSetupException {
        int bits = 0;
        for (String word : suffix.split("[,+]", -1)) {
            if (word.equals("stack") || word.startsWith("stack=")) {
                bits |= TracePoints.STACK;
                if (word.startsWith("stack=")) depth[0] = stackDepth(word.substring(6), "'" + text + "'");
                continue;
            }
            if (field) throw bad(text, "stack or stack=N after '@' (args, exits and timing are for methods), e.g. demo.Account.balance@stack");
            switch (word) {
                case "args": bits |= TracePoints.ARGUMENTS; break;
                case "exit": case "exits": bits |= TracePoints.EXIT; break;
                case "timing": bits |= TracePoints.TIMING; break;
                default:
                    if (word.matches("exits?>.*")) {
                        if (durationNanos(word.substring(word.indexOf('>') + 1)) <= 0) {
                            throw bad(text, "exits>DURATION with a duration more than 0 in ns, us, ms or s, e.g. demo.Account.withdraw@exits>1ms");
                        }
                        bits |= TracePoints.EXIT;
                        break;
                    }
                    throw bad(text, "args, exits, exits>DURATION, timing, stack or stack=N after '@', e.g. demo.Account.withdraw@args,exits");
            }
        }
        return bits;
    }

    /** The frames of {@code stack=N}: 1 to 256. */
    static int stackDepth(String n, String where) throws TraceSetupException {
        int depth;
        try {
            depth = Integer.parseInt(n);
        } catch (NumberFormatException e) {
            depth = -1;
        }
        if (depth < 1 || depth > 256) {
            throw new TraceSetupException("stack=N in " + where + " needs a number of frames from 1 to 256, not '" + n + "'");
        }
        return depth;
    }

    /** The threshold of an {@code exits>DURATION} word of a suffix, in ns; 0 without one. */
    private static long threshold(String suffix) {
        for (String word : suffix.split("[,+]", -1)) {
            if (word.matches("exits?>.*")) return durationNanos(word.substring(word.indexOf('>') + 1));
        }
        return 0;
    }

    /** A duration such as 1ms, 250us, 1.5s or 800ns in ns; -1 when it is not one. */
    static long durationNanos(String d) {
        java.util.regex.Matcher m = Pattern.compile("([0-9]+(?:\\.[0-9]+)?)(ns|us|ms|s)").matcher(d);
        if (!m.matches()) return -1;
        double unit = m.group(2).equals("ns") ? 1 : m.group(2).equals("us") ? 1e3 : m.group(2).equals("ms") ? 1e6 : 1e9;
        double ns = Double.parseDouble(m.group(1)) * unit;
        return ns >= 1 && ns < 9.2e18 ? (long) ns : -1;
    }

    /** CLASS and MEMBER; {@code pkg.**} alone is every member of every class under pkg. */
    private static String[] split(String text, String path, String expected) throws TraceSetupException {
        if (path.contains("::") || path.contains("#")) {
            throw because(text, "the member comes after a dot, e.g. " + path.replace("::", ".").replace('#', '.'));
        }
        if (path.endsWith(".**") && path.length() > 3) return new String[] {path, "*"};
        int dot = path.lastIndexOf('.');
        if (dot <= 0 || dot == path.length() - 1) throw bad(text, expected);
        String type = path.substring(0, dot);
        if (type.endsWith("+") && type.substring(0, type.length() - 1).contains("*")) {
            throw bad(text, "a class name without '*' before '+', e.g. java.lang.Runnable+.run");
        }
        return new String[] {type, path.substring(dot + 1)};
    }

    /**
     * Refuses a class or member name that no class of the VM can have: an empty segment, or a
     * character that is not in a Java name ({@code -} aside, which Kotlin puts in the names it
     * mangles). Patterns keep their {@code *}, a subtype pattern its final {@code +}; methods may
     * be {@code <init>} and {@code <clinit>}.
     */
    private static void checkNames(String text, String[] parts, boolean field) throws TraceSetupException {
        String type = stripPlus(parts[0]);
        for (String segment : type.split("\\.", -1)) {
            if (segment.isEmpty()) throw because(text, "the class name '" + type + "' has an empty part between dots");
            String why = characterProblem(segment);
            if (why != null && why.startsWith("'/'")) throw because(text, why + " (classes are named with dots)");
            if (why != null && why.startsWith("'+'")) {
                throw because(text, why + " ('+' ends a class name for its subtypes, e.g. java.lang.Runnable+.run)");
            }
            if (why != null) throw because(text, why);
        }
        String member = parts[1];
        if (!field && (member.contains("<") || member.contains(">"))) {
            Pattern p = Pattern.compile(glob(member, false));
            if (!p.matcher("<init>").matches() && !p.matcher("<clinit>").matches()) {
                throw because(text, "only <init> (constructors) and <clinit> have '<' and '>' in their names");
            }
            return;
        }
        String why = characterProblem(member);
        if (why != null) throw because(text, why);
    }

    /** Why a name (without dots) cannot be one of the VM's, or null; {@code *} is a pattern's, {@code -} Kotlin's. */
    private static String characterProblem(String name) {
        for (int i = 0; i < name.length(); ) {
            int c = name.codePointAt(i);
            i += Character.charCount(c);
            if (c == '*' || c == '-' || (Character.isJavaIdentifierPart(c) && !Character.isIdentifierIgnorable(c))) continue;
            String shown = c == ' ' ? "a space" : Character.isWhitespace(c) || Character.isISOControl(c)
                    ? String.format("the character U+%04X", c) : "'" + new String(Character.toChars(c)) + "'";
            return shown + " cannot be in a Java name";
        }
        return null;
    }

    /** Why {@code d} is not a JVM method descriptor such as {@code (J)V}, or null. */
    static String descriptorProblem(String d) {
        String types = "'" + d + "' is not a JVM method descriptor (types B C D F I J S Z, Lpkg/Class; and [type, "
                + "V for void, e.g. (J)V)";
        int i = 1;
        while (i < d.length() && d.charAt(i) != ')') {
            i = fieldType(d, i);
            if (i < 0) return dotted(d) ? "a descriptor names classes with '/', e.g. (Ljava/lang/String;)V" : types;
        }
        if (i >= d.length()) return types;
        if (++i == d.length()) return "the descriptor '" + d + "' has no return type (V for void), e.g. (J)V";
        if (d.charAt(i) == 'V' && i + 1 == d.length()) return null;
        int end = fieldType(d, i);
        if (end == d.length()) return null;
        return end < 0 && dotted(d) ? "a descriptor names classes with '/', e.g. (Ljava/lang/String;)V" : types;
    }

    /** The end of the field type at {@code i} in a descriptor, or -1. */
    private static int fieldType(String d, int i) {
        while (i < d.length() && d.charAt(i) == '[') i++;
        if (i >= d.length()) return -1;
        char c = d.charAt(i);
        if ("BCDFIJSZ".indexOf(c) >= 0) return i + 1;
        if (c != 'L') return -1;
        int semi = d.indexOf(';', i);
        if (semi < 0) return -1;
        for (String segment : d.substring(i + 1, semi).split("/", -1)) {
            if (segment.isEmpty() || segment.contains("*") || characterProblem(segment) != null) return -1;
        }
        return semi + 1;
    }

    private static boolean dotted(String d) {
        return d.matches(".*L[^;]*\\.[^;]*;.*");
    }

    private static String stripPlus(String type) {
        return type.endsWith("+") ? type.substring(0, type.length() - 1) : type;
    }

    private static TraceSetupException bad(String text, String expected) {
        return because(text, "expected " + expected);
    }

    private static TraceSetupException because(String text, String why) {
        return new TraceSetupException("bad trace point '" + text + "': " + why);
    }

    private static String glob(String pattern, boolean dotted) {
        StringBuilder b = new StringBuilder();
        for (int i = 0; i < pattern.length(); i++) {
            char c = pattern.charAt(i);
            if (c == '*' && dotted && i + 1 < pattern.length() && pattern.charAt(i + 1) == '*') {
                b.append(".*");
                i++;
            } else if (c == '*') {
                b.append(dotted ? "[^.]*" : ".*");
            } else {
                b.append(Pattern.quote(String.valueOf(c)));
            }
        }
        return b.toString();
    }

    /** Whether the class of this name is one the trace point names (subtypes aside). */
    boolean namesClass(String name) {
        return classPattern != null ? classPattern.matcher(name).matches() : className.equals(name);
    }

    boolean hasWildcards() {
        return classPattern != null || memberPattern != null;
    }

    boolean memberHasWildcards() {
        return memberPattern != null;
    }

    boolean namesMember(String name) {
        return memberPattern != null ? memberPattern.matcher(name).matches() : member.equals(name);
    }

    /** The start every class this trace point may name has (the agent lets only those through). */
    String namePrefix() {
        int star = className.indexOf('*');
        return star < 0 ? className : className.substring(0, star);
    }
}
