#include "bridge/object_ids.h"

#include <atomic>
#include <unordered_map>
#include <vector>

#include "platform/os.h"

namespace {
struct ObjectIds {
    jvmtiEnv* jvmti = nullptr;
    OsLock lock;  // tagging and the map; never held across a callback into the agent
    std::unordered_map<jobjectID, jweak> back;
    // Reported freed by JVMTI, not yet dropped from `back`. Its own lock is held for nothing
    // but the list, since JVMTI may report frees from inside a tag call made under `lock`.
    OsLock freedLock;
    std::vector<jobjectID> freed;
    std::atomic<bool> anyFreed{false};  // `freed` is not empty
};

ObjectIds g_ids;
// Identifiers start above every slot handle the agent can make (256 blocks of 65535 slots), so
// that a handle mistaken for an identifier names no object.
constexpr uint32_t kFirstId = 0x01000000;
std::atomic<uint32_t> g_nextId{kFirstId};

jobjectID NewObjectId() {
    uint32_t id = g_nextId.fetch_add(1, std::memory_order_relaxed);
    while (id < kFirstId) id = g_nextId.fetch_add(1, std::memory_order_relaxed);  // wrapped
    return id;
}

// Drops the way back of freed objects. Under the lock, with JNI. A free told while this runs is
// dropped by a later call.
void DropFreed(JNIEnv* env) {
    if (!g_ids.anyFreed.load(std::memory_order_relaxed)) return;
    std::vector<jobjectID> freed;
    {
        OsLockGuard held(&g_ids.freedLock);
        freed.swap(g_ids.freed);
        g_ids.anyFreed.store(false, std::memory_order_relaxed);
    }
    for (jobjectID id : freed) {
        auto it = g_ids.back.find(id);
        if (it == g_ids.back.end()) continue;
        if (it->second != nullptr) env->DeleteWeakGlobalRef(it->second);
        g_ids.back.erase(it);
    }
}
}  // namespace

void ObjectIdsInit(jvmtiEnv* jvmti) {
    OsLockInit(&g_ids.lock);
    OsLockInit(&g_ids.freedLock);
    g_ids.jvmti = jvmti;
}

jobjectID IdOfObject(JNIEnv* env, jobject object) {
    if (object == nullptr || g_ids.jvmti == nullptr) return 0;
    // An object met before: every tag is written below, together with its way back (or, when no
    // weak reference could be had, JVMTI finds the object by its tag), so the tag alone answers.
    // Identifiers are never given twice, so the ways back of freed objects, dropped by the next
    // call that takes the lock, cannot be this object's.
    jlong tag = 0;
    g_ids.jvmti->GetTag(object, &tag);
    if (tag != 0) return static_cast<jobjectID>(tag);
    OsLockGuard held(&g_ids.lock);
    DropFreed(env);
    g_ids.jvmti->GetTag(object, &tag);
    auto id = static_cast<jobjectID>(tag);
    if (id == 0) {
        id = NewObjectId();
        g_ids.jvmti->SetTag(object, static_cast<jlong>(id));
    }
    if (g_ids.back.find(id) == g_ids.back.end()) {
        jweak weak = env->NewWeakGlobalRef(object);
        if (weak != nullptr) g_ids.back.emplace(id, weak);
    }
    return id;
}

jobject ObjectOfId(JNIEnv* env, jobjectID id) {
    if (id == 0 || g_ids.jvmti == nullptr) return nullptr;
    OsLockGuard held(&g_ids.lock);
    DropFreed(env);
    jobject local = nullptr;
    auto it = g_ids.back.find(id);
    if (it != g_ids.back.end()) {
        // Null once collected; a null entry marks an identifier JVMTI no longer knows.
        local = it->second != nullptr ? env->NewLocalRef(it->second) : nullptr;
    } else {
        // No way back was had: ask JVMTI (a walk of its own over the tagged objects).
        jlong tag = id;
        jint count = 0;
        jobject* objects = nullptr;
        if (g_ids.jvmti->GetObjectsWithTags(1, &tag, &count, &objects, nullptr) == JVMTI_ERROR_NONE) {
            if (count > 0) {
                local = objects[0];
                g_ids.back.emplace(id, env->NewWeakGlobalRef(local));
            } else {
                g_ids.back.emplace(id, nullptr);  // gone: never walk the heap for it again
            }
            for (jint i = 1; i < count; ++i) env->DeleteLocalRef(objects[i]);
            g_ids.jvmti->Deallocate(reinterpret_cast<unsigned char*>(objects));
        }
    }
    return local;
}

void ForgetObjectId(jobjectID id) {
    OsLockGuard held(&g_ids.freedLock);
    g_ids.freed.push_back(id);
    g_ids.anyFreed.store(true, std::memory_order_relaxed);
}
