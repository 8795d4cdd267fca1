// Start-up through JVM_OnLoad against scripted profiler and debug interfaces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/agent_state.h"
#include "agent/java_boundary.h"
#include "agent/dispatcher.h"
#include "tests/harness/scripted_vm.h"
#include "tests/harness/stderr_capture.h"
#include "tests/harness/test_jvm.h"
#include "trace/debug_hook.h"

namespace {
using Calls = std::vector<std::string>;

const std::string kNoProfiler0 =
    "Vexo error:  cannot obtain jvmpi (profiler) interface pointer (0)\n";
const std::string kNoDebugger0 = "Vexo error:  cannot obtain jvmdi (debug) interface pointer (0)\n";
const Calls kRequestsBoth = {"GetEnv 0x10000002", "GetEnv 0x20010000"};
const Calls kEnableSix = {"EnableEvent 2", "EnableEvent 42", "EnableEvent 43",
                          "EnableEvent 4", "EnableEvent 6", "EnableEvent 5"};
const Calls kDisableSix = {"DisableEvent 2", "DisableEvent 42", "DisableEvent 43",
                           "DisableEvent 4", "DisableEvent 6", "DisableEvent 5"};

class AgentStart : public ::testing::Test {
protected:
    void SetUp() override {
        ExpectFreshProcess();
        ScriptedVm();  // the embedded JVM starts outside any capture
    }

    // Runs JVM_OnLoad on the scripted VM; returns what it wrote to standard error.
    std::string OnLoad(const char* options) {
        StderrCapture capture;
        const jint result = JVM_OnLoad(ScriptedVm(), const_cast<char*>(options), nullptr);
        std::string text = capture.Finish();
        EXPECT_EQ(result, 0);
        return text;
    }

    static void ExpectDebugMode() {
        EXPECT_TRUE(g_agent.debugEventHookOK);
        EXPECT_FALSE(g_agent.profilerMode);
        EXPECT_EQ(g_agent.jvmdiVersion, 1);
        EXPECT_EQ(InstalledDebugHook(), &DebugEventHook);
        // The profiler is left alone: no dispatcher, no event switched.
        EXPECT_FALSE(g_agent.profilerEventsEnabled);
        EXPECT_FALSE(g_agent.profileEventHookOK);
        EXPECT_EQ(ScriptedJvmpi()->NotifyEvent, nullptr);
        EXPECT_TRUE(CallsStartingWith("EnableEvent").empty());
    }

    static void ExpectNeitherInterface() {
        EXPECT_EQ(g_agent.jvmpi, nullptr);
        EXPECT_EQ(g_agent.jvmpiVersion, 0);
        EXPECT_EQ(g_agent.jvmdiVersion, 0);
        EXPECT_FALSE(g_agent.debugEventHookOK);
        EXPECT_FALSE(g_agent.profilerMode);
    }
};

// --- options ---------------------------------------------------------------------------------

TEST_F(AgentStart, BothOptionsRequestNothingAndReportBothWithStatusZero) {
    EXPECT_EQ(OnLoad("nojvmdi,nojvmpi"), kNoProfiler0 + kNoDebugger0);
    EXPECT_TRUE(CallsStartingWith("GetEnv").empty());
    EXPECT_TRUE(g_agent.connected);
    ExpectNeitherInterface();
}

TEST_F(AgentStart, NullOptionsRequestBothInterfaces) {
    EXPECT_EQ(OnLoad(nullptr), "");
    EXPECT_EQ(CallsStartingWith("GetEnv"), kRequestsBoth);
    EXPECT_EQ(g_agent.jvmpiVersion, 11);
    ExpectDebugMode();
}

TEST_F(AgentStart, EmptyOptionsRequestBothInterfaces) {
    EXPECT_EQ(OnLoad(""), "");
    EXPECT_EQ(CallsStartingWith("GetEnv"), kRequestsBoth);
    ExpectDebugMode();
}

TEST_F(AgentStart, OptionInsideALongerWordStillMatches) {
    EXPECT_EQ(OnLoad("xnojvmpiy"), kNoProfiler0);
    EXPECT_EQ(CallsStartingWith("GetEnv"), Calls{"GetEnv 0x20010000"});
    EXPECT_EQ(g_agent.jvmpi, nullptr);
    ExpectDebugMode();
}

TEST_F(AgentStart, OptionInCapitalsDoesNotMatch) {
    EXPECT_EQ(OnLoad("NOJVMPI NOJVMDI"), "");
    EXPECT_EQ(CallsStartingWith("GetEnv"), kRequestsBoth);
}

// --- negotiation of the profiler -------------------------------------------------------------

TEST_F(AgentStart, ProfilerVersionOneAloneIsTakenSilently) {
    Script().jvmpi11Status = JNI_EVERSION;
    EXPECT_EQ(OnLoad(nullptr), "");
    EXPECT_EQ(CallsStartingWith("GetEnv"),
              (Calls{"GetEnv 0x10000002", "GetEnv 0x10000001", "GetEnv 0x20010000"}));
    EXPECT_EQ(g_agent.jvmpiVersion, 1);
    EXPECT_EQ(g_agent.jvmpi, ScriptedJvmpi());
}

TEST_F(AgentStart, NoProfilerReportsTheStatusOfTheVersionOneRequestInHex) {
    Script().jvmpi11Status = JNI_ERR;
    Script().jvmpi1Status = JNI_EVERSION;
    EXPECT_EQ(OnLoad(nullptr),
              "Vexo error:  cannot obtain jvmpi (profiler) interface pointer (fffffffd)\n");
    EXPECT_EQ(g_agent.jvmpi, nullptr);
    EXPECT_EQ(g_agent.jvmpiVersion, 0);
    ExpectDebugMode();  // debug only
}

// --- negotiation of the debugger and the mode ------------------------------------------------

TEST_F(AgentStart, NoJvmdiWithAWorkingProfilerGivesProfilerMode) {
    EXPECT_EQ(OnLoad("nojvmdi"), kNoDebugger0);
    EXPECT_EQ(CallsStartingWith("GetEnv"), Calls{"GetEnv 0x10000002"});
    EXPECT_TRUE(g_agent.profilerMode);
    EXPECT_FALSE(g_agent.debugEventHookOK);
    EXPECT_EQ(g_agent.jvmdiVersion, 0);
    EXPECT_EQ(g_agent.jvmdi, nullptr);
    // The six events are probed, then all switched off again; the dispatcher stays installed.
    Calls switching = CallsStartingWith("EnableEvent");
    for (const std::string& call : CallsStartingWith("DisableEvent")) switching.push_back(call);
    Calls expected = kEnableSix;
    expected.insert(expected.end(), kDisableSix.begin(), kDisableSix.end());
    EXPECT_EQ(switching, expected);
    EXPECT_TRUE(g_agent.profileEventHookOK);
    EXPECT_FALSE(g_agent.profilerEventsEnabled);
    EXPECT_EQ(ScriptedJvmpi()->NotifyEvent, &DispatchProfilerEvent);
}

// The in-VM session that asked for profiler mode says the mode itself: the debug interface it
// asked to go without is no error to print; one the VM fails to give still is.
TEST_F(AgentStart, NoJvmdiAskedByAJavaSideThatSaysTheModeIsNotReported) {
    g_agent.modeToldByJavaSide = true;
    EXPECT_EQ(OnLoad("nojvmdi"), "");
    EXPECT_TRUE(g_agent.profilerMode);
    EXPECT_EQ(g_agent.jvmdi, nullptr);
}

TEST_F(AgentStart, AnUnobtainableDebuggerIsReportedAlsoToAJavaSideThatSaysTheMode) {
    g_agent.modeToldByJavaSide = true;
    Script().jvmdiStatus = 111;
    EXPECT_EQ(OnLoad(nullptr), "Vexo error:  cannot obtain jvmdi (debug) interface pointer (6f)\n");
}

TEST_F(AgentStart, NoJvmdiReportsTheLastFailedProfilerStatus) {
    Script().jvmpi11Status = JNI_EVERSION;
    Script().jvmpi1Status = JNI_ERR;
    EXPECT_EQ(OnLoad("nojvmdi"),
              "Vexo error:  cannot obtain jvmpi (profiler) interface pointer (ffffffff)\n"
              "Vexo error:  cannot obtain jvmdi (debug) interface pointer (ffffffff)\n");
    ExpectNeitherInterface();
}

TEST_F(AgentStart, UnobtainableDebuggerReportsItsStatusAndFallsBackToTheProfiler) {
    Script().jvmdiStatus = 111;  // JVMDI_ERROR_ACCESS_DENIED, as without -Xdebug
    EXPECT_EQ(OnLoad(nullptr),
              "Vexo error:  cannot obtain jvmdi (debug) interface pointer (6f)\n");
    EXPECT_TRUE(g_agent.profilerMode);
    EXPECT_EQ(g_agent.jvmdi, nullptr);
    EXPECT_TRUE(CallsStartingWith("SetEventHook").empty());
}

TEST_F(AgentStart, RefusedHookWithAProfilerKeepsTheDebugTableAndGivesProfilerMode) {
    Script().setEventHookResult = JVMDI_ERROR_INTERNAL;
    Script().capabilityBits = 3;
    EXPECT_EQ(OnLoad(nullptr), "Vexo error:  SetEventHook failed (71)\n");
    EXPECT_EQ(g_agent.jvmdiVersion, 1);
    EXPECT_EQ(g_agent.jvmdi, ScriptedJvmdi());
    EXPECT_FALSE(g_agent.debugEventHookOK);
    EXPECT_FALSE(g_agent.debugCanWatchFieldModificationsOK);
    EXPECT_FALSE(g_agent.debugCanWatchFieldAccessOK);
    EXPECT_TRUE(g_agent.profilerMode);
    EXPECT_TRUE(CallsStartingWith("GetCapabilities").empty());
    EXPECT_TRUE(CallsStartingWith("SetEventNotificationMode").empty());
    EXPECT_EQ(CallsStartingWith("EnableEvent"), kEnableSix);
}

TEST_F(AgentStart, RefusedHookWithoutAProfilerLeavesNeitherMode) {
    Script().jvmpi11Status = JNI_EVERSION;
    Script().jvmpi1Status = JNI_EVERSION;
    Script().setEventHookResult = JVMDI_ERROR_INTERNAL;
    EXPECT_EQ(OnLoad(nullptr),
              "Vexo error:  cannot obtain jvmpi (profiler) interface pointer (fffffffd)\n"
              "Vexo error:  SetEventHook failed (71)\n");
    EXPECT_EQ(g_agent.jvmdiVersion, 1);
    EXPECT_FALSE(g_agent.debugEventHookOK);
    EXPECT_FALSE(g_agent.profilerMode);
    EXPECT_TRUE(CallsStartingWith("EnableEvent").empty());
}

TEST_F(AgentStart, DebugModeReadsCapabilitiesAndSetsSixteenNotificationModesInOrder) {
    Script().capabilityBits = 1;  // bit 0: field modification only
    EXPECT_EQ(OnLoad(nullptr), "");
    ExpectDebugMode();
    EXPECT_TRUE(g_agent.debugCanWatchFieldModificationsOK);
    EXPECT_FALSE(g_agent.debugCanWatchFieldAccessOK);
    const Calls expected = {
        "SetEventNotificationMode 0 3 null",  "SetEventNotificationMode 0 4 null",
        "SetEventNotificationMode 0 5 null",  "SetEventNotificationMode 0 6 null",
        "SetEventNotificationMode 0 7 null",  "SetEventNotificationMode 0 8 null",
        "SetEventNotificationMode 0 9 null",  "SetEventNotificationMode 0 10 null",
        "SetEventNotificationMode 0 30 null", "SetEventNotificationMode 0 40 null",
        "SetEventNotificationMode 0 41 null", "SetEventNotificationMode 0 90 null",
        "SetEventNotificationMode 0 99 null", "SetEventNotificationMode 1 2 null",
        "SetEventNotificationMode 1 20 null", "SetEventNotificationMode 1 21 null",
    };
    EXPECT_EQ(CallsStartingWith("SetEventNotificationMode"), expected);
    const Calls log = CallLog();
    EXPECT_EQ(log[2], "SetEventHook");
    EXPECT_EQ(log[3], "GetCapabilities");
}

TEST_F(AgentStart, DebugModeReadsTheAccessCapabilityFromBitOne) {
    Script().capabilityBits = 2;
    OnLoad(nullptr);
    EXPECT_FALSE(g_agent.debugCanWatchFieldModificationsOK);
    EXPECT_TRUE(g_agent.debugCanWatchFieldAccessOK);
}

// --- the profiler's events -------------------------------------------------------------------

TEST_F(AgentStart, ARefusedProfilerEventIsReportedAndTheOthersAreStillEnabled) {
    Script().enableEventResults[JVMPI_EVENT_OBJECT_MOVE] = JVMPI_NOT_AVAILABLE;
    Script().enableEventResults[JVMPI_EVENT_METHOD_ENTRY2] = JVMPI_FAIL;
    EXPECT_EQ(OnLoad("nojvmdi"),
              kNoDebugger0 +
                  "Vexo error:  EnableEvent(JVMPI_EVENT_METHOD_ENTRY2) failed (ffffffff)\n"
                  "Vexo error:  EnableEvent(JVMPI_EVENT_OBJECT_MOVE) failed (1)\n");
    EXPECT_EQ(CallsStartingWith("EnableEvent"), kEnableSix);
    EXPECT_EQ(CallsStartingWith("DisableEvent"), kDisableSix);
    EXPECT_FALSE(g_agent.profileEventHookOK);
    EXPECT_FALSE(g_agent.profilerEventsEnabled);
    EXPECT_TRUE(g_agent.profilerMode);
}
}  // namespace
