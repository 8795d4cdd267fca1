#include "instrument/old_frames.h"

#include <algorithm>
#include <atomic>
#include <map>

#include "core/error_out.h"

namespace {
constexpr jint kScanDepth = 1024;         // deeper stacks are read again, whole
constexpr jlong kCheckEveryMs = 20;
constexpr size_t kMaxUnseenNotes = 200;

struct OldMethod {
    jmethodID method;
    std::string shown;  // "lo.Loop.main([Ljava/lang/String;)V"
    bool running;
};

struct Entry {
    int id;
    jclass declaringClass;  // global reference
    jfieldID field;
    std::string shown;
    bool wanted[2];   // access, modification armed
    bool watched[2];  // the JVMTI watch of that kind is set
    bool live;        // old frames are left and the field is watched for them
    std::vector<OldMethod> old;
};

struct Tracked {
    jthread thread;  // global reference
    bool enabled[2];
};

struct OldFrames {
    jvmtiEnv* jvmti = nullptr;
    jrawMonitorID monitor = nullptr;  // the table below, and the checker's sleep
    bool watchable = false;
    bool sayUnseen = false;  // no session tells of them: standard error does
    std::vector<Entry> entries;  // one per instrumented field that had old frames
    std::vector<Tracked> threads;
    std::map<int, std::vector<jmethodID>> hooked;  // old versions that call the hook, per field
    std::vector<std::string> unseen;
    std::vector<std::string> said;  // on standard error, once each
};

OldFrames g_of;
std::atomic<int> g_entryCount{0};
std::atomic<bool> g_checkerStarted{false};

constexpr jvmtiEvent kEvents[2] = {JVMTI_EVENT_FIELD_ACCESS, JVMTI_EVENT_FIELD_MODIFICATION};

struct Locked {
    Locked() { g_of.jvmti->RawMonitorEnter(g_of.monitor); }
    ~Locked() { g_of.jvmti->RawMonitorExit(g_of.monitor); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

template <typename T>
void Free(T* p) {
    if (p != nullptr) g_of.jvmti->Deallocate(reinterpret_cast<unsigned char*>(p));
}

bool Contains(const std::vector<jmethodID>& methods, jmethodID m) {
    return std::find(methods.begin(), methods.end(), m) != methods.end();
}

std::string Shown(JNIEnv* env, jmethodID method) {
    std::string out;
    jclass klass = nullptr;
    char* signature = nullptr;
    if (g_of.jvmti->GetMethodDeclaringClass(method, &klass) == JVMTI_ERROR_NONE &&
        g_of.jvmti->GetClassSignature(klass, &signature, nullptr) == JVMTI_ERROR_NONE) {
        std::string s = signature;
        if (s.size() > 2 && s[0] == 'L') s = s.substr(1, s.size() - 2);
        std::replace(s.begin(), s.end(), '/', '.');
        out = s + ".";
    }
    Free(signature);
    if (klass != nullptr) env->DeleteLocalRef(klass);
    char* name = nullptr;
    char* descriptor = nullptr;
    if (g_of.jvmti->GetMethodName(method, &name, &descriptor, nullptr) == JVMTI_ERROR_NONE) {
        out += std::string(name) + descriptor;
    }
    Free(name);
    Free(descriptor);
    return out;
}

// Every method on the stack of `thread`; false when it is no longer alive.
bool StackOf(jthread thread, std::vector<jmethodID>* methods) {
    methods->clear();
    jint count = 0;
    if (g_of.jvmti->GetFrameCount(thread, &count) != JVMTI_ERROR_NONE) return false;
    std::vector<jvmtiFrameInfo> frames(static_cast<size_t>(count) + 16);
    jint got = 0;
    if (g_of.jvmti->GetStackTrace(thread, 0, static_cast<jint>(frames.size()), frames.data(), &got) !=
        JVMTI_ERROR_NONE) {
        return false;
    }
    for (jint i = 0; i < got; ++i) methods->push_back(frames[static_cast<size_t>(i)].method);
    return true;
}

bool IsOldMethodOf(JNIEnv* env, jmethodID method, const std::vector<jclass>& classes) {
    jboolean obsolete = JNI_FALSE;
    if (g_of.jvmti->IsMethodObsolete(method, &obsolete) != JVMTI_ERROR_NONE || !obsolete) return false;
    jclass klass = nullptr;
    if (g_of.jvmti->GetMethodDeclaringClass(method, &klass) != JVMTI_ERROR_NONE) return false;
    bool found = false;
    for (jclass c : classes) found = found || env->IsSameObject(c, klass);
    env->DeleteLocalRef(klass);
    return found;
}

struct ThreadOld {
    jthread thread;  // local reference
    std::vector<jmethodID> methods;
};

// The old versions of methods of `classes` that some thread runs, thread by thread.
std::vector<ThreadOld> OldFramesOf(JNIEnv* env, const std::vector<jclass>& classes) {
    std::vector<ThreadOld> out;
    jvmtiStackInfo* info = nullptr;
    jint threads = 0;
    if (classes.empty() || g_of.jvmti->GetAllStackTraces(kScanDepth, &info, &threads) != JVMTI_ERROR_NONE) {
        return out;
    }
    if (env->EnsureLocalCapacity(threads + 16) != JNI_OK) env->ExceptionClear();
    for (jint t = 0; t < threads; ++t) {
        const jvmtiStackInfo& s = info[t];
        std::vector<jmethodID> stack;
        if (s.frame_count >= kScanDepth) {
            StackOf(s.thread, &stack);
        } else {
            for (jint i = 0; i < s.frame_count; ++i) stack.push_back(s.frame_buffer[i].method);
        }
        ThreadOld found{s.thread, {}};
        for (jmethodID m : stack) {
            if (!Contains(found.methods, m) && IsOldMethodOf(env, m, classes)) found.methods.push_back(m);
        }
        if (found.methods.empty()) {
            env->DeleteLocalRef(s.thread);
        } else {
            out.push_back(found);
        }
    }
    Free(info);
    return out;
}

Entry* EntryOf(int id) {
    for (Entry& e : g_of.entries) {
        if (e.id == id) return &e;
    }
    return nullptr;
}

void SetWatch(Entry* e, int kind, bool on) {
    if (e->watched[kind] == on) return;
    jvmtiError error;
    if (kind == kAccessWatch) {
        error = on ? g_of.jvmti->SetFieldAccessWatch(e->declaringClass, e->field)
                   : g_of.jvmti->ClearFieldAccessWatch(e->declaringClass, e->field);
    } else {
        error = on ? g_of.jvmti->SetFieldModificationWatch(e->declaringClass, e->field)
                   : g_of.jvmti->ClearFieldModificationWatch(e->declaringClass, e->field);
    }
    if (error == JVMTI_ERROR_NONE || !on) e->watched[kind] = on;
}

void EndEntry(Entry* e) {
    e->live = false;
    for (int kind = 0; kind < 2; ++kind) SetWatch(e, kind, false);
}

void Track(JNIEnv* env, jthread thread) {
    for (const Tracked& t : g_of.threads) {
        if (env->IsSameObject(t.thread, thread)) return;
    }
    g_of.threads.push_back({static_cast<jthread>(env->NewGlobalRef(thread)), {false, false}});
}

// Reads the tracked threads' stacks: old methods that returned are done, a field whose old
// methods have all returned is no longer watched, and each thread gets the field events its
// old frames need (and none once it has none left). Under the monitor.
void Recheck(JNIEnv* env) {
    for (Entry& e : g_of.entries) {
        for (OldMethod& m : e.old) m.running = false;
    }
    std::vector<jmethodID> stack;
    for (size_t i = 0; i < g_of.threads.size();) {
        Tracked& t = g_of.threads[i];
        const bool alive = StackOf(t.thread, &stack);
        bool holds = false;
        bool need[2] = {false, false};
        for (Entry& e : g_of.entries) {
            if (!e.live) continue;
            for (OldMethod& m : e.old) {
                if (!alive || !Contains(stack, m.method)) continue;
                m.running = holds = true;
                for (int kind = 0; kind < 2; ++kind) need[kind] = need[kind] || e.watched[kind];
            }
        }
        for (int kind = 0; kind < 2; ++kind) {
            if (need[kind] == t.enabled[kind] || !alive) continue;
            if (g_of.jvmti->SetEventNotificationMode(need[kind] ? JVMTI_ENABLE : JVMTI_DISABLE,
                                                     kEvents[kind], t.thread) == JVMTI_ERROR_NONE) {
                t.enabled[kind] = need[kind];
            }
        }
        if (holds) {
            ++i;
            continue;
        }
        env->DeleteGlobalRef(t.thread);
        g_of.threads.erase(g_of.threads.begin() + static_cast<std::ptrdiff_t>(i));
    }
    for (Entry& e : g_of.entries) {
        const bool running = std::any_of(e.old.begin(), e.old.end(), [](const OldMethod& m) { return m.running; });
        if (e.live && !running) EndEntry(&e);
    }
}

bool AnyLive() {
    return std::any_of(g_of.entries.begin(), g_of.entries.end(), [](const Entry& e) { return e.live; });
}

void JNICALL Checker(jvmtiEnv*, JNIEnv* env, void*) {
    Locked locked;
    while (true) {
        const bool live = AnyLive();
        if (g_of.jvmti->RawMonitorWait(g_of.monitor, live ? kCheckEveryMs : 0) != JVMTI_ERROR_NONE) return;
        if (AnyLive()) Recheck(env);
    }
}

// The checker runs as a JVMTI agent thread, made the first time a field has old frames to watch.
void StartChecker(JNIEnv* env) {
    if (g_checkerStarted.exchange(true)) {
        Locked locked;
        g_of.jvmti->RawMonitorNotifyAll(g_of.monitor);
        return;
    }
    jclass threadClass = env->FindClass("java/lang/Thread");
    jmethodID init = threadClass != nullptr ? env->GetMethodID(threadClass, "<init>", "(Ljava/lang/String;)V") : nullptr;
    jstring name = init != nullptr ? env->NewStringUTF("vexo-old-frames") : nullptr;
    jobject thread = name != nullptr ? env->NewObject(threadClass, init, name) : nullptr;
    if (thread == nullptr) g_checkerStarted.store(false);
    if (thread != nullptr &&
        g_of.jvmti->RunAgentThread(thread, Checker, nullptr, JVMTI_THREAD_MIN_PRIORITY) != JVMTI_ERROR_NONE) {
        g_checkerStarted.store(false);
    }
    if (env->ExceptionCheck()) env->ExceptionClear();
    for (jobject local : {static_cast<jobject>(threadClass), static_cast<jobject>(name), thread}) {
        if (local != nullptr) env->DeleteLocalRef(local);
    }
}
}  // namespace

void OldFramesInit(jvmtiEnv* jvmti, bool watchesGranted, bool sayUnseen) {
    g_of.jvmti = jvmti;
    g_of.watchable = watchesGranted;
    g_of.sayUnseen = sayUnseen;
    if (jvmti->CreateRawMonitor("vexo old frames", &g_of.monitor) != JVMTI_ERROR_NONE) g_of.monitor = nullptr;
}

void OldFramesStartChecker(JNIEnv* env) {
    if (g_of.monitor != nullptr && g_of.watchable) StartChecker(env);
}

void OldFramesAfterRewrite(JNIEnv* env, int id, jclass declaringClass, jfieldID field,
                           const std::string& shownName, const std::vector<jclass>& siteClasses) {
    if (g_of.monitor == nullptr) return;
    std::vector<ThreadOld> found = OldFramesOf(env, siteClasses);
    Locked locked;
    const std::vector<jmethodID>& hooked = g_of.hooked[id];
    Entry e{id, nullptr, field, shownName, {false, false}, {false, false}, g_of.watchable, {}};
    for (ThreadOld& t : found) {
        bool tracked = false;
        for (jmethodID m : t.methods) {
            if (Contains(hooked, m)) continue;
            tracked = true;
            const bool known = std::any_of(e.old.begin(), e.old.end(), [m](const OldMethod& o) { return o.method == m; });
            if (!known) e.old.push_back({m, Shown(env, m), true});
        }
        if (tracked && g_of.watchable) Track(env, t.thread);
        env->DeleteLocalRef(t.thread);
    }
    if (e.old.empty()) return;
    if (!g_of.watchable) {
        for (const OldMethod& m : e.old) {
            if (g_of.unseen.size() >= kMaxUnseenNotes) break;
            g_of.unseen.push_back(m.shown + " runs code from before " + shownName +
                                  " was armed: its accesses are not seen until it returns");
            const std::string& note = g_of.unseen.back();
            if (g_of.sayUnseen && std::find(g_of.said.begin(), g_of.said.end(), note) == g_of.said.end()) {
                g_of.said.push_back(note);
                ErrorOut("Vexo: %s\n", note.c_str());
            }
        }
        return;
    }
    e.declaringClass = static_cast<jclass>(env->NewGlobalRef(declaringClass));
    Entry* existing = EntryOf(id);
    if (existing != nullptr) {
        EndEntry(existing);
        env->DeleteGlobalRef(existing->declaringClass);
        *existing = e;
    } else {
        g_of.entries.push_back(e);
    }
    g_entryCount.store(static_cast<int>(g_of.entries.size()), std::memory_order_release);
}

void OldFramesWatch(JNIEnv* env, int id, FieldWatchKind kind, bool on) {
    if (g_of.monitor == nullptr || g_entryCount.load(std::memory_order_acquire) == 0) return;
    bool live = false;
    {
        Locked locked;
        Entry* e = EntryOf(id);
        if (e == nullptr) return;
        e->wanted[kind] = on;
        if (e->live) SetWatch(e, kind, on);
        Recheck(env);
        live = AnyLive();
    }
    if (live) StartChecker(env);
}

void OldFramesBeforeRestore(int id) {
    if (g_of.monitor == nullptr || g_entryCount.load(std::memory_order_acquire) == 0) return;
    Locked locked;
    Entry* e = EntryOf(id);
    if (e != nullptr) EndEntry(e);
}

void OldFramesAfterRestore(JNIEnv* env, int id, const std::vector<jclass>& siteClasses) {
    if (g_of.monitor == nullptr || !g_of.watchable) return;
    std::vector<ThreadOld> found = OldFramesOf(env, siteClasses);
    Locked locked;
    Entry* e = EntryOf(id);
    std::vector<jmethodID> hooked;
    for (ThreadOld& t : found) {
        for (jmethodID m : t.methods) {
            const bool unhooked = e != nullptr && std::any_of(e->old.begin(), e->old.end(),
                                                              [m](const OldMethod& o) { return o.method == m; });
            if (!unhooked && !Contains(hooked, m)) hooked.push_back(m);
        }
        env->DeleteLocalRef(t.thread);
    }
    if (hooked.empty()) {
        g_of.hooked.erase(id);
    } else {
        g_of.hooked[id] = hooked;
    }
    if (e != nullptr) {
        env->DeleteGlobalRef(e->declaringClass);
        g_of.entries.erase(g_of.entries.begin() + (e - g_of.entries.data()));
        g_entryCount.store(static_cast<int>(g_of.entries.size()), std::memory_order_release);
    }
    Recheck(env);
}

bool OldFramesRaise(JNIEnv* env, jmethodID method, jclass fieldClass, jfieldID field) {
    if (g_entryCount.load(std::memory_order_acquire) == 0 || method == nullptr) return true;
    Locked locked;
    for (const Entry& e : g_of.entries) {
        if (e.field != field || !env->IsSameObject(e.declaringClass, fieldClass)) continue;
        if (!e.live) return false;
        return std::any_of(e.old.begin(), e.old.end(),
                           [method](const OldMethod& m) { return m.running && m.method == method; });
    }
    return true;
}

std::vector<std::string> OldFramesTakeNotes() {
    std::vector<std::string> notes;
    if (g_of.monitor == nullptr) return notes;
    Locked locked;
    for (const Entry& e : g_of.entries) {
        if (!e.live) continue;
        for (const OldMethod& m : e.old) {
            if (!m.running) continue;
            notes.push_back(m.shown + " still runs code from before " + e.shown +
                            " was armed: its accesses come through a field watch");
        }
    }
    notes.insert(notes.end(), g_of.unseen.begin(), g_of.unseen.end());
    g_of.unseen.clear();
    return notes;
}

void OldFramesRecheck(JNIEnv* env) {
    if (g_of.monitor == nullptr || g_entryCount.load(std::memory_order_acquire) == 0) return;
    Locked locked;
    Recheck(env);
}
