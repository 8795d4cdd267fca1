#include "core/reentrancy.h"

#include "platform/heap.h"
#include "platform/os.h"

namespace {
void FreeFlag(void* flag) { MemFree(flag); }

unsigned char* NewFlag() {
    auto* flag = static_cast<unsigned char*>(MemAlloc(1));
    if (flag != nullptr) *flag = 0;
    return flag;
}

// The thread slot is made when the library is loaded, before any of its entries can run.
const bool g_slotCreated = OsThreadSlotCreate(FreeFlag);
}  // namespace

unsigned char* CurrentReentrancyFlag() {
    auto* flag = static_cast<unsigned char*>(OsThreadSlotGet());
    if (flag != nullptr || !g_slotCreated) return flag;
    // Threads that were running before the library was loaded get no attach notification.
    flag = NewFlag();
    if (flag != nullptr && !OsThreadSlotSet(flag)) {
        MemFree(flag);
        return nullptr;
    }
    return flag;
}

void AgentThreadAttached() {
    // A failed allocation leaves the slot null; the debug hook then creates the flag itself.
    unsigned char* flag = NewFlag();
    if (flag != nullptr && !OsThreadSlotSet(flag)) MemFree(flag);
}

void AgentThreadDetached() {
    MemFree(OsThreadSlotGet());
    OsThreadSlotSet(nullptr);
}
