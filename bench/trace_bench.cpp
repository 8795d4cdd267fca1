// The recorder's cost for one matching instance-method hit, with 1, 100, 1000 and 10,000 armed
// trace points (the match is the last entry, found through the table's index), and delivery's cost per
// event, against the floor of a bare lock and a record append, and what thread and time add to
// a record, in one run.
//
//   build/bench/trace_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "agent/agent_state.h"
#include "agent/java_boundary.h"
#include "agent/sync.h"
#include "tests/harness/debug_events.h"
#include "tests/harness/java_objects.h"
#include "tests/harness/scripted_vm.h"
#include "tests/harness/stderr_capture.h"
#include "tests/harness/test_jvm.h"
#include "platform/os.h"
#include "trace/event_bank.h"
#include "trace/thread_tags.h"

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
jmethodID ArmMany(JNIEnv* env, int count) {
    env->PushLocalFrame(16);  // the harness's own local references end with the frame
    std::vector<jobject> points;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back("m" + std::to_string(i));
    for (int i = 0; i < count; ++i) {
        points.push_back(NewTracePoint(env, {0, nullptr, "vexotest.Many", names[i].c_str(), "()V"}));
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
// What the recorder adds to every record for its thread and time: the thread's tag (made on
// the thread's first event) and a read of the monotonic clock.
void BM_ThreadAndTime(benchmark::State& state) {
    JNIEnv* env = Agent();
    for (auto _ : state) {
        benchmark::DoNotOptimize(CurrentThreadTag(env));
        benchmark::DoNotOptimize(OsMonotonicNanos());
    }
}
}  // namespace

BENCHMARK(BM_Floor_LockAndAppend);
BENCHMARK(BM_ThreadAndTime);
BENCHMARK(BM_RecordMethodHit)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_DeliverPerEvent)->Arg(10000)->Iterations(20);

BENCHMARK_MAIN();
