package com.vexo.cli;

import com.vexo.TraceMethodEvent;
import com.vexo.TraceMethodExitEvent;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Map;

/**
 * Pairs each exit with the entry of its call. The agent delivers an exit after its entry on the
 * same thread, and one thread's entries and exits nest as its calls do (recursion, exceptions
 * included), so every thread keeps a stack of the entries still waiting for their exits. Threads
 * are keys by identity (a program's Thread subclass may redefine equals and hashCode); events
 * whose thread was collected before delivery come without one and share a stack.
 */
final class CallStacks {
    private final Map<Thread, ArrayDeque<TraceMethodEvent>> stacks = new IdentityHashMap<>();
    private final int most;
    private int waiting;

    /** At most {@code most} entries wait at a time. */
    CallStacks(int most) {
        this.most = Math.max(1, most);
    }

    /**
     * An entry whose line waits for its exit. When {@code most} entries wait already, the oldest
     * of this thread's (or of the deepest stack's) stops waiting and is returned, for its line to
     * be printed now; else null.
     */
    TraceMethodEvent enter(TraceMethodEvent entry) {
        stacks.computeIfAbsent(entry.m_Thread, t -> new ArrayDeque<>()).push(entry);
        if (++waiting <= most) return null;
        ArrayDeque<TraceMethodEvent> from = stacks.get(entry.m_Thread);
        if (from.size() == 1) {
            for (ArrayDeque<TraceMethodEvent> s : stacks.values()) if (s.size() > from.size()) from = s;
        }
        TraceMethodEvent oldest = from.removeLast();
        waiting--;
        if (from.isEmpty()) stacks.values().remove(from);
        return oldest;
    }

    /**
     * The entry {@code exit} ends: the newest waiting entry of its thread at the same trace point,
     * or null when none waits. Entries above it on the stack never got their exits; they move to
     * {@code abandoned}, oldest first.
     */
    TraceMethodEvent exit(TraceMethodExitEvent exit, List<TraceMethodEvent> abandoned) {
        ArrayDeque<TraceMethodEvent> stack = stacks.get(exit.m_Thread);
        if (stack == null || stack.stream().noneMatch(e -> e.m_TracePoint == exit.m_TracePoint)) return null;
        List<TraceMethodEvent> above = new ArrayList<>();
        TraceMethodEvent entry;
        while ((entry = stack.pop()).m_TracePoint != exit.m_TracePoint) above.add(0, entry);
        waiting -= above.size() + 1;
        abandoned.addAll(above);
        if (stack.isEmpty()) stacks.remove(exit.m_Thread);
        return entry;
    }

    /** Takes every entry still waiting, in the order of their times (each thread's in call order). */
    List<TraceMethodEvent> takeWaiting() {
        List<TraceMethodEvent> all = new ArrayList<>();
        for (ArrayDeque<TraceMethodEvent> stack : stacks.values()) {
            stack.descendingIterator().forEachRemaining(all::add);
        }
        stacks.clear();
        waiting = 0;
        all.sort(Comparator.comparingLong(e -> e.m_lTime));
        return all;
    }
}
