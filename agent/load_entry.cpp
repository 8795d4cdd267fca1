// JVM_OnLoad: the start-up entry the virtual machine calls before any Java code runs.
#include <cstring>

#include "core/agent_state.h"
#include "agent/connect.h"
#include "agent/java_boundary.h"
#include "core/sync.h"

namespace {
// The only options: plain, case-sensitive substrings anywhere in the option string.
void ReadOptions(const char* options) {
    if (options == nullptr) return;
    if (std::strstr(options, "nojvmdi") != nullptr) g_agent.noJvmdiOption = true;
    if (std::strstr(options, "nojvmpi") != nullptr) g_agent.noJvmpiOption = true;
}
}  // namespace

jint JNICALL JVM_OnLoad(JavaVM* vm, char* options, void*) {
    ReadOptions(options);
    InitSyncObjects();
    return ConnectToVm(vm);
}
