// The operating-system services the agent needs, behind one small API.
// Backends: os_posix.cpp (Linux) and os_win32.cpp (32-bit Windows).
#pragma once

#include <cstddef>
#include <cstdint>

// The size of a cache line on the agent's targets: data that one thread writes often and another
// reads keeps lines of its own, or every write takes the line back from the reader's cache.
constexpr size_t kCacheLine = 64;

// A lock that its owner may enter again (a Win32 critical section, or a recursive mutex).
struct OsLock {
    void* impl = nullptr;
};

// An auto-reset event: one set releases one wait; a set with no waiter is kept until a wait.
struct OsEvent {
    void* impl = nullptr;
};

// Creates the lock or event. Returns false when the operating system refused.
bool OsLockInit(OsLock* lock);
void OsLockEnter(OsLock* lock);
void OsLockLeave(OsLock* lock);
// Enters the lock when that needs no waiting (or this thread owns it); false, not entered, else.
bool OsLockTryEnter(OsLock* lock);

// Says that a guard takes over a lock its thread entered already.
struct OsLockEntered {};

// Holds a lock for the scope it lives in (entered by the guard, or before it).
class OsLockGuard {
public:
    explicit OsLockGuard(OsLock* lock) : lock_(lock) { OsLockEnter(lock_); }
    OsLockGuard(OsLock* lock, OsLockEntered) : lock_(lock) {}
    ~OsLockGuard() { OsLockLeave(lock_); }
    OsLockGuard(const OsLockGuard&) = delete;
    OsLockGuard& operator=(const OsLockGuard&) = delete;

private:
    OsLock* lock_;
};

bool OsEventInit(OsEvent* event);
void OsEventSet(OsEvent* event);
void OsEventWait(OsEvent* event);  // without time-out

// A per-thread pointer slot. The POSIX backend calls `destructor` with the thread's value when
// a thread with a non-null value ends; the Win32 backend relies on the library's thread-detach
// notification for that.
using OsThreadSlotDestructor = void (*)(void* value);
bool OsThreadSlotCreate(OsThreadSlotDestructor destructor);
void* OsThreadSlotGet();
bool OsThreadSlotSet(void* value);

// Gives up the rest of the thread's time slice.
void OsYield();

// The operating system's number of the calling thread (the one the VM's logs show).
uint64_t OsThreadId();

// A monotonic clock in nanoseconds (the one System.nanoTime reads on this platform).
int64_t OsMonotonicNanos();

// Lets the thread sleep for about `micros` microseconds (at least a time slice on some systems).
void OsSleepMicros(unsigned micros);

// The file this library was loaded from, as a NUL-terminated path in `buffer`. Returns its
// length, or 0 when it is not known or does not fit.
size_t OsLibraryPath(char* buffer, size_t size);

// What the operating system knows about the memory region around an address.
struct OsRegionInfo {
    uintptr_t base = 0;
    size_t size = 0;
    bool committed = false;   // backed by memory (not merely reserved)
    // The protection the region was mapped (allocated) with allows reading it, and it is no
    // guard, write-copy or execute-only region.
    bool readable = false;
    bool writable = false;
};

// The range of addresses user-mode data can have on this target; a stack word outside it is
// no address of the process's data.
#if UINTPTR_MAX > 0xffffffffu
constexpr uintptr_t kUserAddressLow = 0x100000;
constexpr uintptr_t kUserAddressEnd = 0x800000000000;
#else
constexpr uintptr_t kUserAddressLow = 0x100000;
constexpr uintptr_t kUserAddressEnd = 0x80000000;
#endif

// Fills `info` for the region containing `address`. Returns false when the address lies in no
// region of the process.
bool OsQueryRegion(const void* address, OsRegionInfo* info);
