// POSIX backend of the operating-system services.
#include "platform/os.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <time.h>
#include <cerrno>

#include <cstdio>
#include <cstring>

bool OsLockInit(OsLock* lock) {
    auto* mutex = new pthread_mutex_t;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    // A critical section is re-entrant for its owner; so is this lock.
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    const int rc = pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        delete mutex;
        return false;
    }
    lock->impl = mutex;
    return true;
}

void OsLockEnter(OsLock* lock) { pthread_mutex_lock(static_cast<pthread_mutex_t*>(lock->impl)); }

void OsLockLeave(OsLock* lock) { pthread_mutex_unlock(static_cast<pthread_mutex_t*>(lock->impl)); }

bool OsLockTryEnter(OsLock* lock) { return pthread_mutex_trylock(static_cast<pthread_mutex_t*>(lock->impl)) == 0; }

namespace {
struct PosixEvent {
    pthread_mutex_t mutex;  // guards `signalled`
    pthread_cond_t cond;
    bool signalled;
};
}  // namespace

bool OsEventInit(OsEvent* event) {
    auto* e = new PosixEvent;
    e->signalled = false;
    if (pthread_mutex_init(&e->mutex, nullptr) != 0) {
        delete e;
        return false;
    }
    if (pthread_cond_init(&e->cond, nullptr) != 0) {
        pthread_mutex_destroy(&e->mutex);
        delete e;
        return false;
    }
    event->impl = e;
    return true;
}

void OsEventSet(OsEvent* event) {
    auto* e = static_cast<PosixEvent*>(event->impl);
    pthread_mutex_lock(&e->mutex);
    e->signalled = true;
    pthread_cond_signal(&e->cond);
    pthread_mutex_unlock(&e->mutex);
}

void OsEventWait(OsEvent* event) {
    auto* e = static_cast<PosixEvent*>(event->impl);
    pthread_mutex_lock(&e->mutex);
    while (!e->signalled) pthread_cond_wait(&e->cond, &e->mutex);
    e->signalled = false;  // auto-reset: this wait consumes the set
    pthread_mutex_unlock(&e->mutex);
}

namespace {
pthread_key_t g_threadSlotKey;
bool g_threadSlotReady = false;
}  // namespace

bool OsThreadSlotCreate(OsThreadSlotDestructor destructor) {
    g_threadSlotReady = pthread_key_create(&g_threadSlotKey, destructor) == 0;
    return g_threadSlotReady;
}

void* OsThreadSlotGet() {
    return g_threadSlotReady ? pthread_getspecific(g_threadSlotKey) : nullptr;
}

bool OsThreadSlotSet(void* value) {
    return g_threadSlotReady && pthread_setspecific(g_threadSlotKey, value) == 0;
}

void OsYield() { sched_yield(); }

uint64_t OsThreadId() {
#ifdef SYS_gettid
    return static_cast<uint64_t>(syscall(SYS_gettid));
#else
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pthread_self()));
#endif
}

int64_t OsMonotonicNanos() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void OsSleepMicros(unsigned micros) {
    timespec t{static_cast<time_t>(micros / 1000000), static_cast<long>(micros % 1000000) * 1000};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

namespace {
// Parses one line of /proc/self/maps: "start-end perms offset dev inode path".
bool ParseMapsLine(const char* line, uintptr_t* start, uintptr_t* end, char perms[5]) {
    unsigned long long s = 0, e = 0;
    if (std::sscanf(line, "%llx-%llx %4s", &s, &e, perms) != 3) return false;
    *start = static_cast<uintptr_t>(s);
    *end = static_cast<uintptr_t>(e);
    return true;
}
}  // namespace

bool OsQueryRegion(const void* address, OsRegionInfo* info) {
    FILE* maps = std::fopen("/proc/self/maps", "r");
    if (maps == nullptr) return false;
    const auto target = reinterpret_cast<uintptr_t>(address);
    char line[512];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, maps) != nullptr) {
        uintptr_t start = 0, end = 0;
        char perms[5] = {0};
        if (!ParseMapsLine(line, &start, &end, perms) || target < start || target >= end) continue;
        info->base = start;
        info->size = end - start;
        info->readable = perms[0] == 'r';
        info->writable = perms[1] == 'w';
        // A mapping with no access at all is address space held in reserve.
        info->committed = perms[0] == 'r' || perms[1] == 'w' || perms[2] == 'x';
        found = true;
    }
    std::fclose(maps);
    return found;
}

size_t OsLibraryPath(char* buffer, size_t size) {
    Dl_info info = {};
    if (dladdr(reinterpret_cast<void*>(&OsLibraryPath), &info) == 0 || info.dli_fname == nullptr) return 0;
    const size_t length = std::strlen(info.dli_fname);
    if (length == 0 || length + 1 > size) return 0;
    std::memcpy(buffer, info.dli_fname, length + 1);
    return length;
}
