#include "registry/reference_recovery.h"

#include "agent/agent_state.h"

jobjectID ObjectIdOfRef(jobject ref) {
    JVMPI_Interface* jvmpi = g_agent.jvmpi;
    if (jvmpi == nullptr) return 0;
    if (g_agent.jvmpiVersion == 11) return jvmpi->jobject2jobjectID(ref);
    // Not yet wired: JVMPI 1 has no conversion call; reading the identifier through the
    // reference comes with the stack-scanning recovery.
    return 0;
}
