package vexobench;

import com.sun.jdi.Bootstrap;
import com.sun.jdi.Location;
import com.sun.jdi.Method;
import com.sun.jdi.ObjectReference;
import com.sun.jdi.ReferenceType;
import com.sun.jdi.VMDisconnectedException;
import com.sun.jdi.VirtualMachine;
import com.sun.jdi.connect.Connector;
import com.sun.jdi.connect.LaunchingConnector;
import com.sun.jdi.event.BreakpointEvent;
import com.sun.jdi.event.ClassPrepareEvent;
import com.sun.jdi.event.Event;
import com.sun.jdi.event.EventSet;
import com.sun.jdi.event.VMDeathEvent;
import com.sun.jdi.event.VMDisconnectEvent;
import com.sun.jdi.request.BreakpointRequest;
import com.sun.jdi.request.ClassPrepareRequest;
import com.sun.jdi.request.EventRequest;
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.util.Map;

/**
 * What a user would otherwise reach for: a JDI client that launches the program, sets a
 * breakpoint at the entry of Account.deposit and records the receiver of every hit.
 *   JdiClient CLASSPATH N
 */
public final class JdiClient {
    public static void main(String[] args) throws Exception {
        LaunchingConnector launcher = Bootstrap.virtualMachineManager().defaultConnector();
        Map<String, Connector.Argument> arguments = launcher.defaultArguments();
        arguments.get("main").setValue("vexobench.BenchMain jdi-target " + args[1]);
        arguments.get("options").setValue("-cp " + args[0]);
        VirtualMachine vm = launcher.launch(arguments);
        Thread output = new Thread(() -> copy(vm));
        output.start();

        ClassPrepareRequest prepare = vm.eventRequestManager().createClassPrepareRequest();
        prepare.addClassFilter("vexobench.Workload$Account");
        prepare.enable();
        long hits = 0;
        long receivers = 0;
        vm.resume();
        loop:
        while (true) {
            EventSet set;
            try {
                set = vm.eventQueue().remove();
            } catch (VMDisconnectedException gone) {
                break;
            }
            for (Event e : set) {
                if (e instanceof ClassPrepareEvent) {
                    ReferenceType type = ((ClassPrepareEvent) e).referenceType();
                    Method deposit = type.methodsByName("deposit").get(0);
                    Location entry = deposit.location();
                    BreakpointRequest bp = vm.eventRequestManager().createBreakpointRequest(entry);
                    bp.setSuspendPolicy(EventRequest.SUSPEND_EVENT_THREAD);
                    bp.enable();
                } else if (e instanceof BreakpointEvent) {
                    ObjectReference receiver = ((BreakpointEvent) e).thread().frame(0).thisObject();
                    hits++;
                    receivers += receiver.uniqueID() != 0 ? 1 : 0;
                } else if (e instanceof VMDeathEvent || e instanceof VMDisconnectEvent) {
                    break loop;
                }
            }
            set.resume();
        }
        output.join();
        System.out.println("jdi client: " + hits + " hits, " + receivers + " receivers recorded");
    }

    private static void copy(VirtualMachine vm) {
        try (BufferedReader r = new BufferedReader(new InputStreamReader(vm.process().getInputStream()))) {
            for (String line; (line = r.readLine()) != null; ) System.out.println(line);
        } catch (Exception e) {
            // the debuggee is gone
        }
    }
}
