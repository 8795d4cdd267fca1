package com.vexo.cli;

import com.vexo.TracePoints;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Comparator;
import java.util.HashMap;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.WeakHashMap;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * Which targets the trace points name in a class, from the members the VM lists (no class is
 * loaded or initialised to find them), and what became of each trace point: the targets armed,
 * the trace points no class matched, those that matched but could not be armed, and why.
 * Called on whichever thread loads a class, so it shares its state without locks.
 */
final class ClassArming {
    private static final int ACC_STATIC = 0x0008, ACC_BRIDGE = 0x0040, ACC_NATIVE = 0x0100, ACC_ABSTRACT = 0x0400;

    private final List<PointPattern> patterns;
    private final int requested;
    /** With {@link TracePoints#STACK} among {@link #requested}: the frames asked for (0: the agent's default). */
    int stackDepth;
    private final int max;
    private final boolean profiler;  // the agent records entries only: nothing to tell per trace point
    private final AtomicInteger armedCount = new AtomicInteger();
    private final AtomicInteger armedClasses = new AtomicInteger();
    private final AtomicInteger refusedClasses = new AtomicInteger();
    private final java.util.concurrent.atomic.AtomicLong armingNanos = new java.util.concurrent.atomic.AtomicLong();
    private final Map<String, CopyOnWriteArrayList<Class<?>>> supertypes = new ConcurrentHashMap<>();
    private final List<Target> targets = new CopyOnWriteArrayList<>();
    private final Map<Target, Integer> patternOf = new ConcurrentHashMap<>();
    // The later trace points that a target, armed for the first of them, stands for as well.
    private final Map<Target, List<PointPattern>> namedBy = new ConcurrentHashMap<>();
    // By the class that declares a member, the first target armed for it.
    private final Map<Class<?>, Map<String, Target>> firstOfMember = Collections.synchronizedMap(new WeakHashMap<>());
    private final Set<PointPattern> matched = ConcurrentHashMap.newKeySet();
    private final Set<PointPattern> armedPatterns = ConcurrentHashMap.newKeySet();
    private final Map<String, String> notArmed = Collections.synchronizedMap(new LinkedHashMap<>());
    private final List<String> notes = new CopyOnWriteArrayList<>();
    // The trace points whose exits are not recorded, by why (the agent's word): how many, the first few.
    private final Map<String, List<String>> exitsNotRecorded = Collections.synchronizedMap(new LinkedHashMap<>());
    private final Map<String, AtomicInteger> exitsNotRecordedCount = new ConcurrentHashMap<>();
    // The timed trace points on the breakpoint road, by why (it sees no exits, so times nothing).
    private final Map<String, List<String>> notTimed = new LinkedHashMap<>();
    private static final int EXAMPLES = 3;
    // The classes of one name in order of arming: the second and later get "{2}" and on in labels.
    private final Map<Class<?>, Integer> namesake = Collections.synchronizedMap(new WeakHashMap<>());
    private final Map<String, AtomicInteger> namesakes = new ConcurrentHashMap<>();

    ClassArming(List<PointPattern> patterns, int requested, int max, boolean profiler) {
        this.profiler = profiler;
        this.patterns = patterns;
        this.requested = requested;
        this.max = max;
    }

    /**
     * Runs every path of {@link #targetsOf} and {@link #armed} once, on classes of the tracer's
     * own, and the session's patterns' matchers, before any class of the program is handed over.
     * Handing a class over runs on the thread that prepares it, which may hold class
     * initialisation locks: had the handler to load or initialise a class then, it could wait
     * for another thread that waits for this one. After this nothing it touches is new.
     */
    static void warmUp(List<PointPattern> session) throws TraceSetupException {
        String self = WarmUp.class.getName(), base = WarmBase.class.getName();
        String glob = self.substring(0, self.lastIndexOf('.')) + ".ClassArming$Warm*";
        List<PointPattern> patterns = new ArrayList<>();
        for (String m : new String[] {self + ".run", self + ".run(I)V@args,exits", self + ".inherited", self + ".fromInterface",
                self + ".missing", self + ".count", self + ".stop", base + ".abstractOne", glob + ".*", base + "+.abstractOne", "com.vexo.**.run"}) {
            patterns.add(PointPattern.method(m));
        }
        for (String f : new String[] {self + ".count", self + ".base", self + ".*", self + ".missing", self + ".run"}) {
            patterns.add(PointPattern.field(f));
        }
        ClassArming a = new ClassArming(patterns, TracePoints.ARGUMENTS, 1_000_000, false);
        for (Class<?> c : new Class<?>[] {WarmBase.class, WarmUp.class}) {
            if (a.isSupertype(c)) a.addSupertype(c);
            for (int pass = 0; pass < 2; pass++) {
                List<Target> found = a.targetsOf(c);
                a.armed(found, new boolean[found.size()], pass == 0);
                a.armed(found, null, pass == 1);
                a.exitsNotRecorded(found);
            }
        }
        a.prefixes();
        a.notArmed();
        a.notes();
        for (PointPattern p : session) {
            p.namesClass("warm.Up$1");
            p.namesMember("warmUp");
        }
        // A concurrent map through its resizes, as the session's maps grow; and the nested classes
        // of the structures the handler uses, some of which only contention or growth reaches
        // (a concurrent map's counter cells and tree bins, and what those use: the thread's
        // random probe, parking).
        Map<Integer, Integer> grown = new ConcurrentHashMap<>();
        for (int i = 0; i < 1024; i++) grown.put(i, i);
        java.util.concurrent.ThreadLocalRandom.current().nextInt();
        java.util.concurrent.locks.LockSupport.unpark(Thread.currentThread());
        for (Class<?> c : new Class<?>[] {ConcurrentHashMap.class, CopyOnWriteArrayList.class, java.util.HashMap.class,
                LinkedHashMap.class, WeakHashMap.class, ArrayList.class, Collections.class, java.util.regex.Pattern.class}) {
            for (Class<?> nested : c.getDeclaredClasses()) {
                try {
                    Class.forName(nested.getName(), true, null);
                } catch (ClassNotFoundException | LinkageError e) {
                    // what cannot be initialised here is not used by the handler either
                }
            }
        }
    }

    /** Classes the warm-up names: a declared, an inherited, an abstract and a native method, fields. */
    abstract static class WarmBase implements WarmFace {
        int base;

        abstract void abstractOne();

        void inherited() {}
    }

    interface WarmFace {
        default void fromInterface() {}
    }

    static final class WarmUp extends WarmBase {
        static int count;
        long other;

        void run() {}

        void run(int n) {}

        native void stop();

        @Override
        void abstractOne() {}
    }

    /**
     * The method patterns the agent can match itself as classes load, as
     * {@link AgentNatives#armAtLoad} takes them: subtype patterns wait for their supertype.
     */
    String[] loadPatterns() {
        if (profiler) return new String[0];
        List<String> list = new ArrayList<>();
        for (PointPattern s : patterns) {
            // Timed calls and slow calls only take probes of their own, made as the session arms them.
            if (s.field || s.subtypes || s.minNanos > 0 || ((s.requested | requested) & TracePoints.TIMING) != 0) continue;
            int options = (s.requested | requested) & (TracePoints.ARGUMENTS | TracePoints.EXIT);
            list.add(s.className.replace('.', '/') + " " + s.member + " " + (s.descriptor == null ? "-" : s.descriptor) + " " + options);
        }
        return list.toArray(new String[0]);
    }

    /** The name starts the agent is to hand over classes for. */
    String[] prefixes() {
        List<String> list = new ArrayList<>();
        for (PointPattern s : patterns) list.add(s.subtypes ? s.className : s.namePrefix());
        return list.toArray(new String[0]);
    }

    boolean isSupertype(Class<?> c) {
        for (PointPattern s : patterns) {
            if (s.subtypes && s.className.equals(c.getName())) return true;
        }
        return false;
    }

    /** Remembers a class that subtype trace points name; false when it was known. */
    boolean addSupertype(Class<?> c) {
        // No lambdas on this path: it runs while the VM prepares a class, where a first use would
        // bootstrap one.
        supertypes.putIfAbsent(c.getName(), new CopyOnWriteArrayList<>());
        // Two threads that prepare the class at once: only one of them adds it.
        return supertypes.get(c.getName()).addIfAbsent(c);
    }

    /** The new targets the trace points name in {@code c}, with their classes set. */
    List<Target> targetsOf(Class<?> c) {
        List<Target> found = new ArrayList<>();
        Members members = null;
        for (int i = 0; i < patterns.size(); i++) {
            PointPattern s = patterns.get(i);
            if (!(s.subtypes ? isSubtype(c, s.className) : s.namesClass(c.getName()))) continue;
            matched.add(s);
            if (members == null) members = new Members(c);
            int before = found.size();
            if (s.field) fields(s, c, members, found);
            else methods(s, c, members, found);
            for (int j = before; j < found.size(); j++) patternOf.put(found.get(j), i);
        }
        // A member that several trace points name in this class is armed once, with what all of
        // them ask for. One that an earlier class's trace point armed is that trace point's: the
        // agent takes one trace point a member, whose class filters the hits.
        Map<String, Target> seen = new HashMap<>();
        for (java.util.Iterator<Target> i = found.iterator(); i.hasNext(); ) {
            Target t = i.next();
            String key = (t.isField() ? "F" : "M") + t.point.m_strMethodOrFieldName + " " + t.point.m_strMethodOrFieldSignature;
            Target first = seen.get(key);
            if (first != null) {
                first.merge(t);
                namedBy.putIfAbsent(first, new CopyOnWriteArrayList<>());
                namedBy.get(first).add(patterns.get(patternOf.get(t)));
                i.remove();
                continue;
            }
            seen.put(key, t);
            Target earlier = firstOfMember(t, key);
            if (earlier != t) {
                int beyond = t.asksBeyond(earlier);
                notArmed.put(t.label, earlier.label + " traces the same " + (t.isField() ? "field" : "method")
                        + ", armed first: the agent takes one trace point a member, whose class filters the hits"
                        + (beyond == 0 ? "" : "; " + describe(beyond) + " asked for here cannot be added to it"));
                matched.add(patterns.get(patternOf.get(t)));
                i.remove();
            }
        }
        if (armedCount.addAndGet(found.size()) > max) {
            armedCount.addAndGet(-found.size());
            // Classes that load from now on would only get probes that are never armed.
            if (refusedClasses.incrementAndGet() == 1) AgentNatives.armAtLoad(new String[0]);
            return new ArrayList<>();
        }
        if (!found.isEmpty()) armedClasses.incrementAndGet();
        return found;
    }

    /** The first target of the member {@code key} that {@code t}'s member's class declares: {@code t} when it is the first. */
    private Target firstOfMember(Target t, String key) {
        if (t.declaredIn == null) return t;
        synchronized (firstOfMember) {
            Map<String, Target> members = firstOfMember.get(t.declaredIn);
            if (members == null) firstOfMember.put(t.declaredIn, members = new HashMap<>());
            Target first = members.get(key);
            if (first == null) members.put(key, first = t);
            return first;
        }
    }

    /** The depth of the stacks a target asks for: its pattern's, else the options' (0: the agent's default). */
    private void requestStack(Target t, PointPattern s) {
        if ((s.requested & TracePoints.STACK) != 0) t.requestStack(s.stackDepth);
        else if ((requested & TracePoints.STACK) != 0) t.requestStack(stackDepth);
    }

    /** What the bits of {@link Target#REQUESTS} ask for, in words. */
    private static String describe(int requests) {
        java.util.List<String> words = new java.util.ArrayList<>();
        if ((requests & TracePoints.ARGUMENTS) != 0) words.add("the arguments");
        if ((requests & TracePoints.EXIT) != 0) words.add("the exits");
        if ((requests & TracePoints.STACK) != 0) words.add("the stacks");
        return String.join(" and ", words);
    }

    /**
     * After the agent was handed {@code found}: the armed ones are kept, the others said;
     * {@code noRoad} tells those the agent entered but no road could arm.
     */
    void armed(List<Target> found, boolean[] noRoad, boolean attached) {
        List<Target> noExits = null, notTimed = null;
        List<Target> armed = new ArrayList<>(found.size());  // added at once: each add copies the list
        for (int i = 0; i < found.size(); i++) {
            Target t = found.get(i);
            if (t.isArmed() && (noRoad == null || !noRoad[i])) {
                if (!profiler && (t.notRecorded() & TracePoints.TIMING) != 0) {
                    if (notTimed == null) notTimed = new ArrayList<>();
                    notTimed.add(t);
                }
                if (!profiler && (t.notRecorded() & TracePoints.EXIT) != 0) {
                    if (noExits == null) noExits = new ArrayList<>();
                    noExits.add(t);
                }
                armed.add(t);
                armedPatterns.add(patterns.get(patternOf.get(t)));
                List<PointPattern> more = namedBy.get(t);
                if (more != null) armedPatterns.addAll(more);
            } else if (t.isArmed() && attached) {
                notArmed.put(t.label, "no road traces it after attach: it cannot be instrumented (a class of the "
                        + "JDK's modules, or one the VM will not let be rewritten), and breakpoints and field watches "
                        + "are granted only to an agent loaded at start-up");
            } else {
                notArmed.put(t.label, "the agent could not arm it");
            }
        }
        targets.addAll(armed);
        exitsNotRecorded(noExits);
        notTimed(notTimed);
    }

    /** The timed trace points whose methods take breakpoints, which time nothing: said as notes, by why. */
    private void notTimed(List<Target> list) {
        if (list == null || list.isEmpty()) return;
        TracePoints.TracePoint[] points = new TracePoints.TracePoint[list.size()];
        for (int i = 0; i < points.length; i++) points[i] = list.get(i).point;
        String[] why = AgentNatives.exitsNotRecorded(points);
        synchronized (notTimed) {
            for (int i = 0; i < points.length; i++) {
                String reason = why != null && why[i] != null ? why[i] : "unknown";
                List<String> examples = notTimed.get(reason);
                if (examples == null) notTimed.put(reason, examples = new ArrayList<>());
                examples.add(list.get(i).label);
            }
        }
    }

    /** Remembers, by why, the trace points whose exits the agent does not record (their methods take breakpoints). */
    void exitsNotRecorded(List<Target> list) {
        if (list == null || list.isEmpty()) return;
        TracePoints.TracePoint[] points = new TracePoints.TracePoint[list.size()];
        for (int i = 0; i < points.length; i++) points[i] = list.get(i).point;
        String[] why = AgentNatives.exitsNotRecorded(points);
        for (int i = 0; i < points.length; i++) {
            String reason = why != null && why[i] != null ? why[i] : "unknown";
            exitsNotRecordedCount.putIfAbsent(reason, new AtomicInteger());
            exitsNotRecordedCount.get(reason).incrementAndGet();
            synchronized (exitsNotRecorded) {
                List<String> examples = exitsNotRecorded.get(reason);
                if (examples == null) exitsNotRecorded.put(reason, examples = new ArrayList<>());
                if (examples.size() < EXAMPLES) examples.add(list.get(i).label);
            }
        }
    }

    /** Why methods take breakpoints, as the summary says it of many. */
    private static String whyBreakpoints(String reason) {
        switch (reason) {
            case "option": return "the option breakpoints";
            case "jdk-module": return "their classes are in the JDK's named modules";
            case "jfr-event": return "their classes are JFR's, which JFR rewrites itself";
            case "named-module": return "their classes are in named modules";
            case "refused": return "the rewriter or the VM refused their classes";
            case "unmodifiable": return "the VM does not let their classes be rewritten";
            case "no-rewriting": return "this VM does not let classes be rewritten";
            case "native": return "native methods";
            case "abstract": return "abstract methods";
            case "constructor": return "constructors";
            case "no-hook": return "the method hook could not be defined";
            case "too-many": return "more methods than the instrumentation holds";
            default: return "the agent did not say why";
        }
    }

    /** Adds the time an arming took. */
    void took(long nanos) {
        armingNanos.addAndGet(nanos);
    }

    /** With patterns or subtypes, what they armed: "armed: N trace points in M classes in T ms"; else null. */
    String armingLine() {
        long[] a = armedCounts();
        return a == null ? null : "armed: " + a[0] + (a[0] == 1 ? " trace point in " : " trace points in ") + a[1]
                + (a[1] == 1 ? " class in " : " classes in ") + a[2] + " ms";
    }

    /** The numbers of {@link #armingLine}: trace points, classes, milliseconds; null without patterns or subtypes. */
    long[] armedCounts() {
        boolean anyPattern = false;
        for (PointPattern s : patterns) anyPattern |= s.hasWildcards() || s.subtypes;
        if (!anyPattern) return null;
        return new long[] {targets.size(), armedClasses.get(), armingNanos.get() / 1_000_000};
    }

    void note(String message) {
        notes.add(message);
    }

    /** The armed targets, in the order of the trace points that named them, then of arming. */
    List<Target> targets() {
        List<Target> list = new ArrayList<>(targets);
        list.sort(Comparator.comparingInt(t -> patternOf.get(t)));
        return list;
    }

    /** The trace points that no loaded class matched. */
    List<String> neverMatched() {
        List<String> list = new ArrayList<>();
        for (PointPattern s : patterns) {
            if (!matched.contains(s)) list.add(s.text);
        }
        return list;
    }

    /** What matched and was not armed, with the reason; then the session's notes. */
    Map<String, String> notArmed() {
        Map<String, String> all;
        synchronized (notArmed) {
            all = new LinkedHashMap<>(notArmed);
        }
        for (PointPattern s : patterns) {
            if (s.hasWildcards() || s.subtypes) {
                if (matched.contains(s) && !armedPatterns.contains(s)) {
                    all.putIfAbsent(s.text, "no class it names declares such a member with code to trace");
                }
            }
        }
        return all;
    }

    List<String> notes() {
        List<String> list = new ArrayList<>(notes);
        synchronized (exitsNotRecorded) {
            for (Map.Entry<String, List<String>> e : exitsNotRecorded.entrySet()) {
                int n = exitsNotRecordedCount.get(e.getKey()).get();
                list.add("exits not recorded for " + n + (n == 1 ? " method" : " methods") + " traced by breakpoints ("
                        + whyBreakpoints(e.getKey()) + ")" + (n > e.getValue().size() ? ", e.g. " : ": ")
                        + String.join(", ", e.getValue()) + (n > e.getValue().size() ? ", ..." : ""));
            }
        }
        synchronized (notTimed) {
            for (Map.Entry<String, List<String>> e : notTimed.entrySet()) {
                List<String> all = e.getValue();
                int n = all.size();
                list.add("calls not timed for " + n + (n == 1 ? " method" : " methods") + " traced by breakpoints ("
                        + whyBreakpoints(e.getKey()) + "), whose entries are recorded as events instead"
                        + (n > EXAMPLES ? ", e.g. " : ": ") + String.join(", ", all.subList(0, Math.min(n, EXAMPLES)))
                        + (n > EXAMPLES ? ", ..." : ""));
            }
        }
        int refused = refusedClasses.get();
        if (refused > 0) {
            list.add("the trace points would arm more than " + max + " members: " + refused
                    + (refused == 1 ? " class was" : " classes were") + " left untraced");
        }
        return list;
    }

    private boolean isSubtype(Class<?> c, String typeName) {
        List<Class<?>> types = supertypes.get(typeName);
        if (types == null) return false;
        for (Class<?> t : types) {
            if (t.isAssignableFrom(c)) return true;
        }
        return false;
    }

    private String suffix(Class<?> c) {
        Integer n;
        synchronized (namesake) {
            n = namesake.get(c);
            if (n == null) {
                namesakes.putIfAbsent(c.getName(), new AtomicInteger());
                n = namesakes.get(c.getName()).incrementAndGet();
                namesake.put(c, n);
            }
        }
        return n == 1 ? "" : "{" + n + "}";
    }

    private void methods(PointPattern s, Class<?> c, Members members, List<Target> found) {
        List<Member> candidates = new ArrayList<>();
        boolean exact = !s.memberHasWildcards() && !s.subtypes;
        if (exact) {
            // Declared or inherited, nearest first, as the VM's lookup finds them.
            addMethods(s, members, candidates, false);
            if (!s.member.equals("<init>")) {
                for (Class<?> k = c.getSuperclass(); k != null; k = k.getSuperclass()) addMethods(s, new Members(k), candidates, false);
                for (Class<?> i : c.getInterfaces()) addMethods(s, new Members(i), candidates, true);
            }
        } else {
            addMethods(s, members, candidates, false);
        }
        Set<String> descriptors = new HashSet<>();
        String suffix = null;
        for (Member m : candidates) {
            if (s.descriptor != null && !s.descriptor.equals(m.descriptor)) continue;
            if (!descriptors.add(m.name + m.descriptor)) continue;  // overridden nearer: the class's own is resolved
            if (suffix == null) suffix = suffix(c);
            String label = c.getName() + "." + m.name + m.descriptor + suffix;
            if ((m.modifiers & (ACC_ABSTRACT | ACC_NATIVE)) != 0) {
                if (exact) notArmed.put(label, (m.modifiers & ACC_NATIVE) != 0 ? "a native method has no code to trace"
                        : "an abstract method has no code to trace; name " + s.className + "+." + s.member
                                + " to trace its implementations");
                continue;
            }
            int flags = (m.modifiers & ACC_STATIC) != 0 ? TracePoints.STATIC : 0;
            Target t = new Target(label, flags | s.requested, c.getName(), m.name, m.descriptor, c);
            requestStack(t, s);
            t.point.m_lMinNanos = s.minNanos;
            t.request(requested);
            t.declaredIn = m.owner;
            found.add(t);
        }
        if (exact && descriptors.isEmpty()) {
            String other = candidates.isEmpty() && hasMember(c, members, s.member, true)
                    ? " (it has a field " + s.member + ": use --field)" : describe(candidates);
            notArmed.put(s.text, c.getName() + " has no method " + s.member + (s.descriptor != null ? s.descriptor : "") + other);
        }
    }

    private static void addMethods(PointPattern s, Members members, List<Member> to, boolean defaultsOnly) {
        for (Member m : members.list) {
            if (m.field || (m.modifiers & ACC_BRIDGE) != 0 || !s.namesMember(m.name)) continue;
            if (m.name.equals("<clinit>")) continue;
            if (m.name.equals("<init>") && s.memberHasWildcards() && !s.member.startsWith("<")) continue;
            if (defaultsOnly && (m.modifiers & (ACC_ABSTRACT | ACC_STATIC)) != 0) continue;
            to.add(m);
        }
    }

    /** Whether {@code c} declares or inherits from its superclasses a field (or a method) of that name. */
    private static boolean hasMember(Class<?> c, Members members, String name, boolean field) {
        for (Class<?> k = c; k != null; k = k.getSuperclass()) {
            for (Member m : (k == c ? members : new Members(k)).list) {
                if (m.field == field && m.name.equals(name)) return true;
            }
        }
        return false;
    }

    private static String describe(List<Member> candidates) {
        StringBuilder b = new StringBuilder();
        for (Member m : candidates) b.append(b.length() == 0 ? " (it has " : ", ").append(m.name).append(m.descriptor);
        return b.length() == 0 ? "" : b.append(')').toString();
    }

    private void fields(PointPattern s, Class<?> c, Members members, List<Target> found) {
        List<Member> candidates = new ArrayList<>();
        if (s.memberHasWildcards()) {
            for (Member m : members.list) {
                if (m.field && s.namesMember(m.name)) candidates.add(m);
            }
        } else {
            search:
            for (Class<?> k = c; k != null; k = k.getSuperclass()) {
                for (Member m : (k == c ? members : new Members(k)).list) {
                    if (m.field && m.name.equals(s.member)) {
                        candidates.add(m);
                        break search;
                    }
                }
            }
            if (candidates.isEmpty()) {
                notArmed.put(s.text, c.getName() + " has no field " + s.member
                        + (hasMember(c, members, s.member, false) ? " (it has a method " + s.member + ": use --method)" : ""));
            }
        }
        String suffix = candidates.isEmpty() ? "" : suffix(c);
        for (Member m : candidates) {
            int flags = TracePoints.FIELD | valueKind(m.descriptor);
            if ((m.modifiers & ACC_STATIC) != 0) flags |= TracePoints.STATIC;
            Target t = new Target(c.getName() + "." + m.name + suffix, flags | s.requested, c.getName(), m.name, m.descriptor, c);
            requestStack(t, s);
            t.request(requested);
            t.declaredIn = m.owner;
            found.add(t);
        }
    }

    /** The value kind the agent records for a field of this descriptor. */
    static int valueKind(String descriptor) {
        switch (descriptor.charAt(0)) {
            case 'I': return TracePoints.VALUE_INT;
            case 'J': return TracePoints.VALUE_LONG;
            case 'F': return TracePoints.VALUE_FLOAT;
            case 'D': return TracePoints.VALUE_DOUBLE;
            case 'S': return TracePoints.VALUE_SHORT;
            case 'B': return TracePoints.VALUE_BYTE;
            case 'Z': return TracePoints.VALUE_BOOLEAN;
            case 'C': return TracePoints.VALUE_CHAR;
            default: return TracePoints.VALUE_OBJECT;
        }
    }

    /** A member as the VM lists it. */
    private static final class Member {
        final boolean field;
        final int modifiers;
        final String name;
        final String descriptor;

        /** The class that declares it. */
        final Class<?> owner;

        Member(String line, Class<?> owner) {
            this.owner = owner;
            String[] w = line.split(" ", 4);
            field = w[0].equals("F");
            modifiers = Integer.parseInt(w[1]);
            name = w[2];
            descriptor = w[3];
        }
    }

    /** The members a class declares. */
    private static final class Members {
        final List<Member> list = new ArrayList<>();

        Members(Class<?> c) {
            String[] lines = AgentNatives.members(c);
            if (lines == null) return;
            for (String line : lines) list.add(new Member(line, c));
        }
    }
}
