// Win32 backend of the operating-system services, and the library's entry point.
#include <windows.h>

#include "platform/os.h"

bool OsLockInit(OsLock* lock) {
    auto* cs = new CRITICAL_SECTION;
    InitializeCriticalSection(cs);
    lock->impl = cs;
    return true;
}

void OsLockEnter(OsLock* lock) { EnterCriticalSection(static_cast<CRITICAL_SECTION*>(lock->impl)); }

void OsLockLeave(OsLock* lock) { LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(lock->impl)); }

bool OsLockTryEnter(OsLock* lock) { return TryEnterCriticalSection(static_cast<CRITICAL_SECTION*>(lock->impl)) != 0; }

bool OsEventInit(OsEvent* event) {
    // No security attributes, auto-reset, initially non-signalled, unnamed.
    HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    event->impl = h;
    return h != nullptr;
}

void OsEventSet(OsEvent* event) { SetEvent(static_cast<HANDLE>(event->impl)); }

void OsEventWait(OsEvent* event) {
    WaitForSingleObject(static_cast<HANDLE>(event->impl), INFINITE);
}

namespace {
DWORD g_tlsIndex = TLS_OUT_OF_INDEXES;
OsThreadSlotDestructor g_tlsDestructor = nullptr;
}  // namespace

bool OsThreadSlotCreate(OsThreadSlotDestructor destructor) {
    g_tlsIndex = TlsAlloc();
    g_tlsDestructor = destructor;
    return g_tlsIndex != TLS_OUT_OF_INDEXES;
}

void* OsThreadSlotGet() {
    return g_tlsIndex == TLS_OUT_OF_INDEXES ? nullptr : TlsGetValue(g_tlsIndex);
}

bool OsThreadSlotSet(void* value) {
    return g_tlsIndex != TLS_OUT_OF_INDEXES && TlsSetValue(g_tlsIndex, value) != 0;
}

void OsYield() { SwitchToThread(); }

uint64_t OsThreadId() { return GetCurrentThreadId(); }

int64_t OsMonotonicNanos() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    const int64_t f = frequency.QuadPart;
    return count.QuadPart / f * 1000000000 + count.QuadPart % f * 1000000000 / f;
}

void OsSleepMicros(unsigned micros) { Sleep(micros < 1000 ? 1 : micros / 1000); }

bool OsQueryRegion(const void* address, OsRegionInfo* info) {
    MEMORY_BASIC_INFORMATION mbi;
    if (VirtualQuery(address, &mbi, sizeof mbi) == 0 || mbi.State == MEM_FREE) return false;
    info->base = reinterpret_cast<uintptr_t>(mbi.BaseAddress);
    info->size = mbi.RegionSize;
    info->committed = mbi.State == MEM_COMMIT;
    const DWORD p = mbi.AllocationProtect & 0xff;
    // No-access, write-copy, execute-only and guard allocations do not count as readable.
    const DWORD refused = PAGE_NOACCESS | PAGE_WRITECOPY | PAGE_EXECUTE | PAGE_GUARD;
    info->readable = mbi.AllocationProtect != 0 && (mbi.AllocationProtect & refused) == 0;
    info->writable = p == PAGE_READWRITE || p == PAGE_WRITECOPY ||
                     p == PAGE_EXECUTE_READWRITE || p == PAGE_EXECUTE_WRITECOPY;
    return true;
}

// Thread notifications of the library; the agent's per-thread flag hangs on them.
void AgentThreadAttached();
void AgentThreadDetached();

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_THREAD_ATTACH: AgentThreadAttached(); break;
        case DLL_THREAD_DETACH: AgentThreadDetached(); break;
        default: break;  // process attach: the slot is made by a static initialiser
    }
    return TRUE;
}

size_t OsLibraryPath(char* buffer, size_t size) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&OsLibraryPath), &self)) {
        return 0;
    }
    const DWORD length = GetModuleFileNameA(self, buffer, static_cast<DWORD>(size));
    return length == 0 || length >= size ? 0 : static_cast<size_t>(length);
}
