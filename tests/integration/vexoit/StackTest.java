package vexoit;

import static vexoit.Check.test;

import com.vexo.TraceMethodEvent;
import com.vexo.TraceMethodExitEvent;
import com.vexo.TracePoints;
import com.vexo.TracePoints.TracePoint;
import java.util.Arrays;
import java.util.List;

/**
 * Trace points that ask for the stack: every event's m_Stack is the JVM's own stack trace of the
 * same moment (taken by the traced code on the same line), without the tracer's frames. The
 * argument says the road: exits are recorded on the instrumented one only.
 */
public class StackTest {
    static boolean exits;

    public static void main(String[] args) throws Exception {
        exits = !(args.length > 0 && args[0].equals("breakpoints"));
        Agent.start();
        Check.run("StackTest",
                test("ThreeDeepChainOnEveryEvent", StackTest::chain),
                test("LambdaAndConstructor", StackTest::lambdaAndConstructor),
                test("FieldAccessAtTheTop", StackTest::field),
                test("DepthAskedAndDefault", StackTest::depth));
    }

    static TracePoint point(int flags, String name, String descriptor) {
        return Agent.point(flags, "vexoit.Stacks", null, name, descriptor);
    }

    static List<TraceMethodEvent> run(Runnable body, TracePoint... points) {
        Agent.activate(points);
        for (TracePoint p : points) Check.that(Agent.armed(p), p.m_strMethodOrFieldName + " armed");
        body.run();
        return Agent.collect();
    }

    /** `stack` is `jvm` from its frame `from` on (its first `count` frames, or all). */
    static void same(StackTraceElement[] jvm, int from, StackTraceElement[] stack, int count, String what) {
        Check.that(stack != null, what + ": a stack");
        int n = count < 0 ? jvm.length - from : count;
        Check.equal(n, stack.length, what + ": frames");
        for (int i = 0; i < n; i++) {
            StackTraceElement want = jvm[from + i], got = stack[i];
            String at = what + ", frame " + i;
            Check.equal(want.getClassName(), got.getClassName(), at + " class");
            Check.equal(want.getMethodName(), got.getMethodName(), at + " method");
            Check.equal(want.getFileName(), got.getFileName(), at + " file");
            Check.equal(want.getLineNumber(), got.getLineNumber(), at + " line");
            Check.that(!got.getClassName().startsWith("com.vexo."), at + ": none of the tracer's frames");
        }
    }

    static void chain() {
        TracePoint a = point(TracePoints.STATIC | TracePoints.STACK | TracePoints.ARGUMENTS, "a", "()V");
        TracePoint b = point(TracePoints.STATIC, "b", "()V");
        TracePoint c = point(TracePoints.STATIC | TracePoints.STACK | TracePoints.EXIT, "c", "()V");
        List<TraceMethodEvent> events = run(Stacks::a, a, b, c);
        Check.that((a.m_iFlags & TracePoints.STACK) != 0 && (c.m_iFlags & TracePoints.STACK) != 0,
                "the stack bit written back set");
        Check.that((b.m_iFlags & TracePoints.STACK) == 0, "and not set where it was not asked");
        Check.equal(exits ? 4 : 3, events.size(), "the entries of a, b, c and the exit of c where exits are recorded");
        StackTraceElement[] jvm = Stacks.seen;  // c, b, a, run, chain, ...
        Check.equal("c", jvm[0].getMethodName(), "the JVM's stack starts in c");
        // Deeper than the default: 16 frames of what the JVM shows from c's caller chain.
        same(jvm, 2, events.get(0).m_Stack, Math.min(16, jvm.length - 2), "a's entry");
        Check.that(events.get(0).m_Arguments != null, "a's arguments beside its stack");
        Check.that(events.get(1).m_Stack == null, "no stack for b, which did not ask");
        same(jvm, 0, events.get(2).m_Stack, Math.min(16, jvm.length), "c's entry");
        if (exits) {
            TraceMethodExitEvent exit = (TraceMethodExitEvent) events.get(3);
            StackTraceElement[] stack = exit.m_Stack;
            Check.that(stack != null && stack.length > 0, "c's exit has a stack");
            Check.equal("c", stack[0].getMethodName(), "c's exit: c at the top");
            Check.equal(Stacks.seenAtExit[0].getLineNumber(), stack[0].getLineNumber(), "c's exit: at its return");
            same(jvm, 1, Arrays.copyOfRange(stack, 1, stack.length), Math.min(15, jvm.length - 1), "c's exit's callers");
            Check.that(exit.m_lDuration > 0, "c's exit has its duration");
        }
    }

    static void lambdaAndConstructor() {
        TracePoint lambda = point(TracePoints.STATIC | TracePoints.STACK, "lambda$lambda$0", "()V");
        TracePoint made = point(TracePoints.STACK, "<init>", "()V");
        StackTraceElement[][] jvm = new StackTraceElement[2][];
        List<TraceMethodEvent> events = run(() -> {
            Stacks.lambda();
            jvm[0] = Stacks.seen;
            new Stacks();
            jvm[1] = Stacks.seen;
        }, lambda, made);
        Check.equal(2, events.size(), "the lambda's body and the constructor");
        Check.equal("lambda$lambda$0", jvm[0][0].getMethodName(), "the lambda's body is at the top");
        same(jvm[0], 0, events.get(0).m_Stack, Math.min(16, jvm[0].length), "the lambda (its proxy's frame left out)");
        same(jvm[1], 0, events.get(1).m_Stack, Math.min(16, jvm[1].length), "the constructor");
    }

    static void field() {
        TracePoint value = Agent.point(TracePoints.FIELD | TracePoints.VALUE_INT | TracePoints.STACK, "vexoit.Stacks", null,
                "value", "I");
        value.m_iStackDepth = 3;
        List<TraceMethodEvent> events = run(() -> new Stacks().touch(), value);
        Check.equal(1, events.size(), "one assignment");
        Check.equal("touch", Stacks.seen[0].getMethodName(), "the JVM's stack starts in the accessing method");
        same(Stacks.seen, 0, events.get(0).m_Stack, 3, "the field's assignment, the accessing method at the top");
    }

    static void depth() {
        TracePoint deep = point(TracePoints.STATIC | TracePoints.STACK, "recurse", "(I)V");
        deep.m_iStackDepth = 1000;
        List<TraceMethodEvent> events = run(() -> Stacks.recurse(300), deep);
        Check.equal(301, events.size(), "every call of the recursion");
        Check.equal(256, events.get(300).m_Stack.length, "at most 256 frames");
        same(Stacks.seen, 0, events.get(300).m_Stack, 256, "the deepest call");
        same(Stacks.seen, 300, events.get(0).m_Stack, Math.min(256, Stacks.seen.length - 300), "the first call");
        TracePoint shallow = point(TracePoints.STATIC | TracePoints.STACK, "recurse", "(I)V");
        events = run(() -> Stacks.recurse(40), shallow);
        same(Stacks.seen, 0, events.get(40).m_Stack, 16, "16 frames by default");
    }
}
