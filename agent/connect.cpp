#include "agent/connect.h"

#include "core/agent_state.h"
#include "agent/dispatcher.h"
#include "core/error_out.h"
#include "core/profiler_events.h"
#include "trace/debug_hook.h"

namespace {
// Obtains the profiler table, 1.1 preferred. Returns the status of the last GetEnv made.
jint ObtainProfiler(JavaVM* vm) {
    if (g_agent.noJvmpiOption) return 0;
    void* table = nullptr;
    jint status = vm->GetEnv(&table, JVMPI_VERSION_1_1);
    if (status == 0) {
        g_agent.jvmpiVersion = 11;
    } else {
        table = nullptr;
        status = vm->GetEnv(&table, JVMPI_VERSION_1);
        if (status == 0) g_agent.jvmpiVersion = 1;
        else table = nullptr;
    }
    g_agent.jvmpi = static_cast<JVMPI_Interface*>(table);
    void* extension = nullptr;
    if (table != nullptr && vm->GetEnv(&extension, VEXO_JVMPI_EXTENSION_VERSION) == 0 && extension != nullptr) {
        // Entries of no method until trace points name theirs.
        g_agent.jvmpiExtension = static_cast<VexoJvmpiExtension*>(extension);
        g_agent.jvmpiExtension->SetMethodEntryFilter(nullptr, 0, nullptr);
    }
    return status;
}

// Obtains the debug table. `status` holds the last GetEnv status and is updated by the request.
void ObtainDebugger(JavaVM* vm, jint* status) {
    void* table = nullptr;
    if (!g_agent.noJvmdiOption) *status = vm->GetEnv(&table, JVMDI_VERSION_1);
    if (g_agent.noJvmdiOption || *status != 0) {
        g_agent.jvmdiVersion = 0;
        if (!(g_agent.noJvmdiOption && g_agent.modeToldByJavaSide)) {
            ErrorOut("Vexo error:  cannot obtain jvmdi (debug) interface pointer (%x)\n",
                     static_cast<unsigned>(*status));
        }
        return;
    }
    g_agent.jvmdi = static_cast<JVMDI_Interface_1*>(table);
    g_agent.jvmdiVersion = 1;
}

struct NotificationMode {
    jint mode;
    jint kind;
};

// Every debug event the agent does not serve is switched off; the three it serves are on.
// Single stepping is left as the virtual machine has it.
const NotificationMode kNotificationModes[] = {
    {JVMDI_DISABLE, JVMDI_EVENT_FRAME_POP},     {JVMDI_DISABLE, JVMDI_EVENT_EXCEPTION},
    {JVMDI_DISABLE, JVMDI_EVENT_USER_DEFINED},  {JVMDI_DISABLE, JVMDI_EVENT_THREAD_START},
    {JVMDI_DISABLE, JVMDI_EVENT_THREAD_END},    {JVMDI_DISABLE, JVMDI_EVENT_CLASS_PREPARE},
    {JVMDI_DISABLE, JVMDI_EVENT_CLASS_UNLOAD},  {JVMDI_DISABLE, JVMDI_EVENT_CLASS_LOAD},
    {JVMDI_DISABLE, JVMDI_EVENT_EXCEPTION_CATCH}, {JVMDI_DISABLE, JVMDI_EVENT_METHOD_ENTRY},
    {JVMDI_DISABLE, JVMDI_EVENT_METHOD_EXIT},   {JVMDI_DISABLE, JVMDI_EVENT_VM_INIT},
    {JVMDI_DISABLE, JVMDI_EVENT_VM_DEATH},      {JVMDI_ENABLE, JVMDI_EVENT_BREAKPOINT},
    {JVMDI_ENABLE, JVMDI_EVENT_FIELD_ACCESS},   {JVMDI_ENABLE, JVMDI_EVENT_FIELD_MODIFICATION},
};

void InstallDebugHook() {
    JVMDI_Interface_1* jvmdi = g_agent.jvmdi;
    if (jvmdi == nullptr) return;
    const jvmdiError result = jvmdi->SetEventHook(DebugEventHook);
    if (result != JVMDI_ERROR_NONE) {
        ErrorOut("Vexo error:  SetEventHook failed (%x)\n", static_cast<unsigned>(result));
        return;
    }
    g_agent.debugEventHookOK = true;
    g_agent.profilerMode = false;
    JVMDI_capabilities capabilities = {};
    jvmdi->GetCapabilities(&capabilities);
    g_agent.debugCanWatchFieldModificationsOK = capabilities.can_watch_field_modification != 0;
    g_agent.debugCanWatchFieldAccessOK = capabilities.can_watch_field_access != 0;
    for (const NotificationMode& m : kNotificationModes) {
        jvmdi->SetEventNotificationMode(m.mode, m.kind, static_cast<jthread>(nullptr));
    }
}
}  // namespace

jint ConnectToVm(JavaVM* vm) {
    g_agent.connected = true;
    g_agent.debugEventHookOK = false;
    g_agent.debugCanWatchFieldModificationsOK = false;
    g_agent.debugCanWatchFieldAccessOK = false;
    g_agent.profileEventHookOK = false;
    g_agent.jvmpi = nullptr;
    g_agent.profilerDispatch = DispatchProfilerEvent;

    jint status = ObtainProfiler(vm);
    if (g_agent.jvmpi == nullptr) {
        g_agent.jvmpiVersion = 0;
        ErrorOut("Vexo error:  cannot obtain jvmpi (profiler) interface pointer (%x)\n",
                 static_cast<unsigned>(status));
    }
    ObtainDebugger(vm, &status);
    InstallDebugHook();

    // Profiler mode: probe the six events once, then leave them off until they are needed.
    if (g_agent.jvmpi != nullptr && !g_agent.debugEventHookOK) {
        g_agent.profilerMode = true;
        EnableProfilerEvents();
        DisableProfilerEvents();
    }
    return 0;
}
