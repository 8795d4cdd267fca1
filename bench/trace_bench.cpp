// The recorder's cost for one matching instance-method hit, with 1, 100, 1000 and 10,000 armed
// trace points (the match is the last entry, found through the table's index), and delivery's cost per
// event, against the floor of a bare lock and a record append, and what thread and time add to
// a record, in one run. Then an instrumented entry's record and delivery with no arguments, two
// primitive arguments (a long and an int), a long and the same object, and a long and another
// object each call, beside the floor of that last: a weak reference made and deleted, made while
// another thread deletes earlier ones, and the native half of the alternative, a store into a Java
// array.
//
//   build/bench/trace_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/agent_state.h"
#include "agent/java_boundary.h"
#include "core/sync.h"
#include "tests/harness/debug_events.h"
#include "tests/harness/java_objects.h"
#include "tests/harness/scripted_vm.h"
#include "tests/harness/stderr_capture.h"
#include "tests/harness/test_jvm.h"
#include "platform/os.h"
#include "trace/call_details.h"
#include "trace/debug_hook.h"
#include "trace/event_bank.h"
#include "trace/thread_tags.h"
#include "trace/trace_flags.h"

namespace {
constexpr int kDrainEvery = 1 << 16;  // records between two (untimed) deliveries

JNIEnv* Agent() {
    static JNIEnv* env = [] {
        UseCheckedJni(false);  // measure the agent, not the JNI checker
        StartAgent("");
        JNIEnv* e = TestEnv();
        Java_com_vexo_NativeApi_nativeSetEventTreePanel(e, nullptr, NewInstance(e, "vexotest/Panel"));
        return e;
    }();
    return env;
}

// Arms `count` trace points on methods m0..m(count-1) of vexotest.Many; returns the last one's id.
jmethodID ArmMany(JNIEnv* env, int count, int32_t flags = 0) {
    env->PushLocalFrame(16);  // the harness's own local references end with the frame
    std::vector<jobject> points;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back("m" + std::to_string(i));
    for (int i = 0; i < count; ++i) {
        points.push_back(NewTracePoint(env, {flags, nullptr, "vexotest.Many", names[i].c_str(), "()V"}));
    }
    jobject list = NewTracePoints(env, points, 1 << 30);
    Java_com_vexo_NativeApi_nativeActivateTracePoints(env, nullptr, list);
    const jmethodID last = MethodOf(env, "vexotest/Many", names[count - 1].c_str(), "()V");
    env->PopLocalFrame(nullptr);
    return last;
}

jobject NewReceiver(JNIEnv* env) {
    env->PushLocalFrame(4);
    jobject receiver = env->NewGlobalRef(NewInstance(env, "vexotest/Many"));
    env->PopLocalFrame(nullptr);
    return receiver;
}

void Drain(JNIEnv* env) {
    env->PushLocalFrame(16);
    DeliverEvents(env);
    env->PopLocalFrame(nullptr);
}

void BM_RecordMethodHit(benchmark::State& state) {
    JNIEnv* env = Agent();
    const jmethodID method = ArmMany(env, static_cast<int>(state.range(0)));
    jobject receiver = NewReceiver(env);
    int sinceDrain = 0;
    for (auto _ : state) {
        HitBreakpoint(env, method, receiver);
        if (++sinceDrain == kDrainEvery) {
            state.PauseTiming();
            Drain(env);
            sinceDrain = 0;
            state.ResumeTiming();
        }
    }
    if (sinceDrain > 0) Drain(env);  // after the loop: not timed
    env->DeleteGlobalRef(receiver);
}

void BM_DeliverPerEvent(benchmark::State& state) {
    JNIEnv* env = Agent();
    const jmethodID method = ArmMany(env, 1);
    jobject receiver = NewReceiver(env);
    const int batch = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < batch; ++i) HitBreakpoint(env, method, receiver);
        state.ResumeTiming();
        Drain(env);
    }
    state.SetItemsProcessed(state.iterations() * batch);
    env->DeleteGlobalRef(receiver);
}

// The floor: the recording lock and one append of a record of the same size, nothing else.
void BM_Floor_LockAndAppend(benchmark::State& state) {
    Agent();
    std::vector<TraceEventRecord> records(kDrainEvery);
    size_t n = 0;
    for (auto _ : state) {
        EnterLock(&g_agent.recordingLock);
        TraceEventRecord& r = records[n++ & (kDrainEvery - 1)];
        r.subject = n;
        r.flags = 1;
        r.tracePointRef = nullptr;
        r.value.j = 0;
        LeaveLock(&g_agent.recordingLock);
        benchmark::DoNotOptimize(r);
    }
}
// The floor of an object argument that is another object each call: the JNI weak reference that
// holds it until delivery, made and deleted, nothing else.
void BM_Floor_WeakReference(benchmark::State& state) {
    JNIEnv* env = Agent();
    std::vector<jobject> objects;
    for (int i = 0; i < 64; ++i) objects.push_back(NewReceiver(env));
    size_t next = 0;
    for (auto _ : state) {
        jweak weak = env->NewWeakGlobalRef(objects[next++ % objects.size()]);
        benchmark::DoNotOptimize(weak);
        env->DeleteWeakGlobalRef(weak);
    }
    for (jobject object : objects) env->DeleteGlobalRef(object);
}

// The same weak references made while another thread deletes the ones made before, as the
// consumer deletes those of a delivered bank while the program records into the other: both
// threads update the JVM's shared store of weak references. Timed: the making alone.
void BM_Floor_WeakReferenceBesideRelease(benchmark::State& state) {
    JNIEnv* env = Agent();
    std::vector<jobject> objects;
    for (int i = 0; i < 64; ++i) objects.push_back(NewReceiver(env));
    std::mutex lock;
    std::vector<jweak> made;
    std::atomic<bool> done{false};
    std::thread releaser([&] {
        JNIEnv* own = nullptr;
        TestJvm()->AttachCurrentThread(reinterpret_cast<void**>(&own), nullptr);
        std::vector<jweak> spent;
        for (bool last = false; !last;) {
            last = done.load();
            {
                std::lock_guard<std::mutex> hold(lock);
                spent.swap(made);
            }
            for (jweak weak : spent) own->DeleteWeakGlobalRef(weak);
            if (spent.empty()) std::this_thread::sleep_for(std::chrono::microseconds(200));
            spent.clear();
        }
        TestJvm()->DetachCurrentThread();
    });
    std::vector<jweak> batch;
    size_t next = 0;
    for (auto _ : state) {
        batch.push_back(env->NewWeakGlobalRef(objects[next++ % objects.size()]));
        if (batch.size() == 4096) {
            std::lock_guard<std::mutex> hold(lock);
            made.insert(made.end(), batch.begin(), batch.end());
            batch.clear();
        }
    }
    {
        std::lock_guard<std::mutex> hold(lock);
        made.insert(made.end(), batch.begin(), batch.end());
    }
    done = true;
    releaser.join();
    for (jobject object : objects) env->DeleteGlobalRef(object);
}

// The native half of holding another object each call through a java.lang.ref.WeakReference
// the instrumented code makes (the Java half is BenchMain's weak-floor): the reference stored
// into a Java array of the bank, a new array every 65,536, with no weak reference of the JVM's.
void BM_Floor_StoreInJavaArray(benchmark::State& state) {
    JNIEnv* env = Agent();
    std::vector<jobject> objects;
    for (int i = 0; i < 64; ++i) objects.push_back(NewReceiver(env));
    jclass objectClass = env->FindClass("java/lang/Object");
    constexpr jsize kLength = 1 << 16;
    jobjectArray bank = env->NewObjectArray(kLength, objectClass, nullptr);
    jsize next = 0;
    for (auto _ : state) {
        env->SetObjectArrayElement(bank, next, objects[static_cast<size_t>(next) % objects.size()]);
        if (++next == kLength) {
            env->DeleteLocalRef(bank);
            bank = env->NewObjectArray(kLength, objectClass, nullptr);
            next = 0;
        }
    }
    env->DeleteLocalRef(bank);
    env->DeleteLocalRef(objectClass);
    for (jobject object : objects) env->DeleteGlobalRef(object);
}

// What the recorder adds to every record for its thread and time: the thread's tag (made on
// the thread's first event) and a read of the monotonic clock.
void BM_ThreadAndTime(benchmark::State& state) {
    JNIEnv* env = Agent();
    for (auto _ : state) {
        benchmark::DoNotOptimize(CurrentThreadTag(env));
        benchmark::DoNotOptimize(OsMonotonicNanos());
    }
}

// An instrumented entry as the method hook raises it: the receiver and the arguments offered.
// Arguments: 0 none, 1 a long and an int, 2 a long and an object (`object`, or the receiver).
void HitInstrumentedEntry(JNIEnv* env, jmethodID method, jobject receiver, int64_t arguments,
                          jobject object = nullptr) {
    CallValue values[2];
    MethodEntryOffer offer;
    offer.receiver = receiver;
    offer.active = true;
    if (arguments != 0) {
        jvalue amount;
        amount.j = 75;
        jvalue second;
        second.j = 0;
        if (arguments == 1) second.i = 3;
        else second.l = object != nullptr ? object : receiver;
        values[0] = WidenedCallValue('J', amount);
        values[1] = WidenedCallValue(arguments == 1 ? 'I' : 'L', second);
        offer.arguments = values;
        offer.argumentCount = 2;
        offer.argumentsBorrowed = true;
    }
    MethodEntryOffer* previous = OfferMethodEntry(&offer);
    HitBreakpoint(env, method, receiver);
    OfferMethodEntry(previous);
}

void BM_RecordEntryWithArguments(benchmark::State& state) {
    JNIEnv* env = Agent();
    const jmethodID method = ArmMany(env, 1, state.range(0) != 0 ? kArgumentsTracePoint : 0);
    jobject receiver = NewReceiver(env);
    // 3: a long and an object that differs from the last call's, which shares no reference.
    std::vector<jobject> objects;
    for (int i = 0; i < (state.range(0) == 3 ? 64 : 0); ++i) objects.push_back(NewReceiver(env));
    size_t next = 0;
    int sinceDrain = 0;
    for (auto _ : state) {
        HitInstrumentedEntry(env, method, receiver, std::min<int64_t>(state.range(0), 2),
                             objects.empty() ? nullptr : objects[next++ % objects.size()]);
        if (++sinceDrain == kDrainEvery) {
            state.PauseTiming();
            Drain(env);
            sinceDrain = 0;
            state.ResumeTiming();
        }
    }
    if (sinceDrain > 0) Drain(env);
    for (jobject object : objects) env->DeleteGlobalRef(object);
    env->DeleteGlobalRef(receiver);
}

void BM_DeliverEntryWithArguments(benchmark::State& state) {
    JNIEnv* env = Agent();
    const jmethodID method = ArmMany(env, 1, state.range(0) != 0 ? kArgumentsTracePoint : 0);
    jobject receiver = NewReceiver(env);
    constexpr int kBatch = 10000;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < kBatch; ++i) HitInstrumentedEntry(env, method, receiver, state.range(0));
        state.ResumeTiming();
        Drain(env);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    env->DeleteGlobalRef(receiver);
}
}  // namespace

BENCHMARK(BM_Floor_LockAndAppend);
BENCHMARK(BM_Floor_WeakReference);
BENCHMARK(BM_Floor_WeakReferenceBesideRelease);
BENCHMARK(BM_Floor_StoreInJavaArray);
BENCHMARK(BM_ThreadAndTime);
BENCHMARK(BM_RecordMethodHit)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_DeliverPerEvent)->Arg(10000)->Iterations(20);
BENCHMARK(BM_RecordEntryWithArguments)->Arg(0)->Arg(1)->Arg(2)->Arg(3);
BENCHMARK(BM_DeliverEntryWithArguments)->Arg(0)->Arg(1)->Arg(2)->Iterations(20);

BENCHMARK_MAIN();
