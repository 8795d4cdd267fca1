// Agent_OnLoad: `java -agentpath:/path/libvexo.so[=OPTIONS]` on a VM with JVMTI. The bridge
// takes what the VM grants only now, then the agent starts as a start-up agent on the proxy.
#include <cstring>
#include <string>
#include <vector>

#include "core/agent_state.h"
#include "agent/java_boundary.h"
#include "core/error_out.h"
#include "instrument/field_instrumentation.h"
#include "session/agent_options.h"
#include "session/session_start.h"
#include "bridge/jvmti_env.h"
#include "agent/vm_events.h"
#include "bridge/vm_proxy.h"

// Besides the agent's own options, the bridge reads the words (between commas) "breakpoints":
// method trace points by JVMTI breakpoints only, never by instrumentation; and "watches": field
// trace points by JVMTI field watches only. Trace points in the options start the in-VM session.
namespace {
// The option strings of the loads so far. Two -agentpath options that name this library (one
// perhaps in JAVA_TOOL_OPTIONS) load it once and call Agent_OnLoad twice, in the order of the
// options, on the one state: the bridge is set up by the first, the agent reads each one's words,
// and the session starts with the last that names trace points.
std::vector<std::string> g_loads;
std::string g_sessionOptions;

// A later load, said in one line when a session is involved (a Java side of its own that loads
// the agent twice sees it as before).
void SayLoadedAgain(const char* options) {
    const bool session = AsksForSession(options);
    if (!session && g_sessionOptions.empty()) return;
    std::string what;
    if (session && !g_sessionOptions.empty()) {
        what = "only the last option string with trace points starts a session, so the trace points of '" +
               g_sessionOptions + "' record nothing";
    } else if (session) {
        what = "the earlier option string '" + g_loads.front() + "' set the agent up first, and its words hold";
    } else {
        what = "the session of '" + g_sessionOptions + "' runs, and '" + std::string(options == nullptr ? "" : options) +
               "' starts on an agent that is set up already";
    }
    const std::string times = g_loads.size() == 1 ? "twice" : std::to_string(g_loads.size() + 1) + " times";
    ErrorOut("vexo-trace: the agent library is loaded %s (-agentpath more than once, one perhaps in "
             "JAVA_TOOL_OPTIONS): the VM starts the one library once for each; %s\n",
             times.c_str(), what.c_str());
}
}  // namespace

jint JNICALL Agent_OnLoad(JavaVM* vm, char* options, void* reserved) {
    if (!g_loads.empty()) SayLoadedAgain(options);
    g_loads.emplace_back(options == nullptr ? "" : options);
    if (AsksForSession(options)) g_sessionOptions = options;
    g_bridge.forceBreakpoints = HasOptionWord(options, "breakpoints");
    FieldForceWatches(HasOptionWord(options, "watches"));
    g_bridge.wantMethodEntryEvents = options != nullptr && std::strstr(options, "nojvmdi") != nullptr;
    // The in-VM session asked for profiler mode: it says which mode runs in its own words.
    g_agent.modeToldByJavaSide = AsksForSession(options) && HasOptionWord(options, "profiler");
    if (!BridgeStartSession(vm, true)) return JVM_OnLoad(vm, options, reserved);
    const jint loaded = JVM_OnLoad(BridgeProxyVm(), options, reserved);
    if (loaded == JNI_OK) InVmSessionOnLoad(g_bridge.jvmti, options);
    return loaded;
}

// Agent_OnAttach: `VirtualMachine.loadAgentPath(path, OPTIONS)` on a running VM. The bridge starts
// late (or is found started by an earlier attach or load) and the in-VM session starts at once;
// the core connects when the session initialises it, as a late load does.
jint JNICALL Agent_OnAttach(JavaVM* vm, char* options, void*) {
    if (!AsksForSession(options)) {
        ErrorOut("Vexo: an agent loaded into a running VM needs trace points in its options "
                 "(method=CLASS.METHOD, field=CLASS.FIELD)\n");
        return JNI_ERR;
    }
    g_bridge.attached = true;
    if (!BridgeStartSession(vm, false)) {
        ErrorOut("Vexo: this VM has no JVMTI; nothing can be traced\n");
        return JNI_ERR;
    }
    return InVmSessionOnAttach(g_bridge.jvmti, options) ? JNI_OK : JNI_ERR;
}
