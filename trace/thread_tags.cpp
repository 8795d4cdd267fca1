#include "trace/thread_tags.h"

#include <atomic>

#include "core/agent_state.h"
#include "core/sync.h"
#include "platform/heap.h"
#include "trace/bank_deliveries.h"

namespace {
thread_local ThreadTag* t_tag = nullptr;
ThreadTag* g_retiredTags = nullptr;  // guarded by the recording lock
std::atomic<long> g_tagReferences{0};

// A weak reference to the calling thread's Thread object, or null. Its local references live in
// a frame of their own: the caller may be a callback with little room left in its frame.
jweak CurrentThreadReference(JNIEnv* env) {
    if (env->PushLocalFrame(4) != JNI_OK) {
        env->ExceptionClear();
        return nullptr;
    }
    jweak weak = nullptr;
    jclass threadClass = env->FindClass("java/lang/Thread");
    const jmethodID current = threadClass == nullptr ? nullptr
        : env->GetStaticMethodID(threadClass, "currentThread", "()Ljava/lang/Thread;");
    jobject thread = current == nullptr ? nullptr : env->CallStaticObjectMethod(threadClass, current);
    if (env->ExceptionCheck()) env->ExceptionClear();
    if (thread != nullptr) weak = env->NewWeakGlobalRef(thread);
    env->PopLocalFrame(nullptr);
    if (weak != nullptr) ++g_tagReferences;
    return weak;
}
}  // namespace

// A tag has a cache line of its own: delivery reads it for every record, and memory the thread
// allocates next to it (the room of its arguments, its open calls) is written on every call.
static_assert(sizeof(ThreadTag) <= kCacheLine, "a tag fits one cache line");

ThreadTag* CurrentThreadTag(JNIEnv* env) {
    if (t_tag != nullptr || env == nullptr) return t_tag;
    void* block = MemAlloc(2 * kCacheLine + sizeof(ThreadTag));
    if (block == nullptr) return nullptr;
    const uintptr_t line = (reinterpret_cast<uintptr_t>(block) + kCacheLine) & ~(kCacheLine - 1);
    auto* tag = reinterpret_cast<ThreadTag*>(line);
    tag->block = block;
    tag->thread = CurrentThreadReference(env);
    tag->banksDeliveredAtRetirement = 0;
    tag->next = nullptr;
    t_tag = tag;
    return tag;
}

void RetireCurrentThreadTag(JNIEnv*) {
    ThreadTag* tag = t_tag;
    if (tag == nullptr) return;
    t_tag = nullptr;
    OsLockGuard recording(&g_agent.recordingLock);
    tag->next = g_retiredTags;
    g_retiredTags = tag;
    tag->banksDeliveredAtRetirement = BanksDeliveredLocked();
}

void ReleaseRetiredThreadTags(JNIEnv* env, uint32_t banksDelivered) {
    ThreadTag** link = &g_retiredTags;
    while (*link != nullptr) {
        ThreadTag* tag = *link;
        if (ReleasableAfter(tag->banksDeliveredAtRetirement, banksDelivered)) {
            *link = tag->next;
            if (tag->thread != nullptr) {
                env->DeleteWeakGlobalRef(tag->thread);
                --g_tagReferences;
            }
            MemFree(tag->block);
        } else {
            link = &tag->next;
        }
    }
}

long LiveThreadTagReferences() { return g_tagReferences.load(); }
