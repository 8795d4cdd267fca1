package vexoit;

import static vexoit.Check.test;

import com.vexo.InitializeInfo;
import com.vexo.NativeApi;
import com.vexo.TraceFieldEvent;
import com.vexo.TraceMethodEvent;
import com.vexo.TracePoints.TracePoint;
import java.util.List;

/** Method trace points armed as breakpoints: by class name and by object, instance and static. */
public class MethodTraceTest {
    public static void main(String[] args) throws Exception {
        InitializeInfo info = Agent.start();
        Check.equal(1, info.m_iJVMDIVersion, "JVMDI version");
        Check.that(info.m_bDebugEventHookOK, "the debug hook is installed");
        Check.that(info.m_bDebugCanWatchFieldAccessOK && info.m_bDebugCanWatchFieldModificationsOK,
                "both field watch capabilities");
        Check.run("MethodTraceTest",
                test("ByClassNameAcceptsTheClassAndSubclasses", MethodTraceTest::byClassName),
                test("SuperclassReceiversAreRejected", MethodTraceTest::superclassRejected),
                test("RejectedReceiversShowNoOverflowWithinTheLimitAndOnePastIt", MethodTraceTest::rejectedAtTheLimit),
                test("AReactivationWithTheMethodsOwnClassAcceptsEveryReceiver", MethodTraceTest::ownClassAgain),
                test("ByObjectUsesItsRunTimeClass", MethodTraceTest::byObject),
                test("StaticMethodsHaveNoSubject", MethodTraceTest::staticMethod),
                test("UnresolvableTracePointsAreNotArmed", MethodTraceTest::unresolvable),
                test("DisarmedTracePointsRecordNothing", MethodTraceTest::disarmed));
    }

    static void byClassName() {
        TracePoint area = Agent.method("vexoit.Shape", "area", "()I");
        Agent.activate(area);
        Check.that(Agent.armed(area), "Shape.area armed");
        Shape shape = new Shape();
        Polygon polygon = new Polygon();
        Hexagon hexagon = new Hexagon();
        Square square = new Square();  // overrides area: another method
        Stone stone = new Stone();     // an unrelated class with its own area
        int sum = shape.area() + polygon.area() + hexagon.area() + square.area() + stone.area();
        Check.equal(5, sum, "the traced program's own results");
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(3, events.size(), "events for Shape, Polygon and Hexagon receivers");
        Check.that(events.get(0).m_Subject == shape, "first subject is the Shape");
        Check.that(events.get(1).m_Subject == polygon, "second subject is the Polygon");
        Check.that(events.get(2).m_Subject == hexagon, "third subject is the Hexagon");
        for (TraceMethodEvent e : events) {
            Check.that(e.m_TracePoint == area, "the event names its trace point");
            Check.that(!(e instanceof TraceFieldEvent), "a method event is a plain TraceMethodEvent");
        }
    }

    static void superclassRejected() {
        // Polygon inherits area from Shape: the breakpoint is Shape's, the class filter Polygon.
        TracePoint area = Agent.method("vexoit.Polygon", "area", "()I");
        Agent.activate(area);
        Shape shape = new Shape();
        Hexagon hexagon = new Hexagon();
        shape.area();
        hexagon.area();
        shape.area();
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(1, events.size(), "only the Hexagon's call");
        Check.that(events.get(0).m_Subject == hexagon, "the subject is the Hexagon");
    }

    static void rejectedAtTheLimit() {
        TracePoint area = Agent.method("vexoit.Polygon", "area", "()I");
        Agent.activate(2, area);
        NativeApi.nativeOnResetEventList();  // the limit counts from here
        Shape shape = new Shape();
        Hexagon hexagon = new Hexagon();
        for (int i = 0; i < 3; i++) shape.area();
        hexagon.area();
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(1, events.size(), "the Hexagon's call alone");
        Check.that(!Agent.overflowSeen, "rejected receivers within the limit are no overflow");
        NativeApi.nativeOnResetEventList();
        hexagon.area();
        hexagon.area();  // the limit is reached: a rejected receiver from now on is a hit past it
        shape.area();
        NativeApi.nativeOnResetEventList();  // lets the collection's mark through
        events = Agent.collect();
        Check.equal(2, events.size(), "the Hexagon's two calls");
        Check.that(Agent.overflowSeen, "a hit past the limit shows the overflow, its receiver rejected or not");
    }

    static void ownClassAgain() {
        Agent.activate(Agent.method("vexoit.Polygon", "area", "()I"));
        new Shape().area();
        Check.equal(0, Agent.collect().size(), "the Shape is rejected");
        TracePoint area = Agent.method("vexoit.Shape", "area", "()I");
        Agent.activate(area);
        Shape shape = new Shape();
        shape.area();
        Agent.collectOne(shape, "the Shape's call, once the trace point is Shape's");
    }

    static void byObject() {
        Hexagon model = new Hexagon();
        TracePoint area = Agent.methodOf(model, "area", "()I");
        Agent.activate(area);
        Check.that(Agent.armed(area), "armed through m_Object");
        Polygon polygon = new Polygon();
        Hexagon other = new Hexagon();
        polygon.area();
        other.area();
        model.area();
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(2, events.size(), "the two Hexagons' calls");
        Check.that(events.get(0).m_Subject == other && events.get(1).m_Subject == model, "Hexagon subjects in order");
    }

    static void staticMethod() {
        TracePoint count = Agent.staticMethod("vexoit.Shape", "count", "(I)I");
        Agent.activate(count);
        int n = 0;
        for (int i = 0; i < 3; i++) n = Shape.count(n);
        Check.equal(3, n, "the static method's results");
        List<TraceMethodEvent> events = Agent.collect();
        Check.equal(3, events.size(), "three static calls");
        for (TraceMethodEvent e : events) Check.that(e.m_Subject == null, "no subject for a static method");
    }

    static void unresolvable() {
        TracePoint noClass = Agent.method("vexoit.NoSuchClass", "area", "()I");
        TracePoint noMethod = Agent.method("vexoit.Shape", "volume", "()I");
        TracePoint wrongKind = Agent.method("vexoit.Shape", "count", "(I)I");  // static, asked as instance
        TracePoint good = Agent.method("vexoit.Stone", "area", "()I");
        Agent.activate(noClass, noMethod, wrongKind, good);
        Check.that(!Agent.armed(noClass) && !Agent.armed(noMethod) && !Agent.armed(wrongKind),
                "unresolvable trace points are not armed");
        Check.that(Agent.armed(good), "the resolvable one is");
        new Stone().area();
        Shape.count(1);
        Check.equal(1, Agent.collect().size(), "only the armed trace point records");
    }

    static void disarmed() {
        TracePoint area = Agent.method("vexoit.Shape", "area", "()I");
        Agent.activate(area);
        Agent.activate();
        new Shape().area();
        Check.equal(0, Agent.collect().size(), "nothing after the list was replaced by an empty one");
    }
}
