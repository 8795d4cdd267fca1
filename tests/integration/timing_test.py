#!/usr/bin/env python3
"""Timed trace points (@timing, --timing): the table's counts are the calls the program says it
made (a recursion, calls that throw, two threads that end before the table is read,
constructors), durations the program controls (pauses) land where they must, the text table is
sorted by total time, the breakpoint road times nothing and says so, and an attached session
prints a table per interval whose counts add up to no more than the end's.

    timing_test.py VEXO_TRACE BUILD_DIR SOURCE_DIR
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import time

tracer, build, sources = sys.argv[1:4]
java_home = os.environ.get("JAVA_HOME")
java = os.path.join(java_home, "bin", "java") if java_home else "java"
javac = os.path.join(java_home, "bin", "javac") if java_home else "javac"
failures = []


def fail(message):
    print("FAILED: " + message)
    failures.append(message)


def trace(work, args, agent=""):
    env = dict(os.environ, VEXO_BUILD=build, VEXO_AGENT_OPTIONS=agent)
    p = subprocess.run([tracer] + args + ["--", "-cp", work, "tmg.Timed"], env=env, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, text=True, encoding="utf-8")
    print(p.stdout, end="")
    if p.returncode != 0:
        fail("exit status %d with %s" % (p.returncode, args))
    made = {}
    for m in re.finditer(r"^made (\S+) (\d+)(?: thrown (\d+))?$", p.stdout, re.M):
        made[m.group(1)] = (int(m.group(2)), int(m.group(3) or 0))
    return p.stdout, made


with tempfile.TemporaryDirectory() as work:
    subprocess.run([javac, "-d", work, os.path.join(sources, "tmg", "Timed.java")], check=True)

    # JSON: every method of the program timed, with --timing and with @timing.
    for args in (["--timing", "--method", "tmg.Timed.*", "--method", "tmg.Timed$Node.*", "--method", "tmg.Timed$Node.<init>"],
                 ["--method", "tmg.Timed.*@timing", "--method", "tmg.Timed$Node.*@timing",
                  "--method", "tmg.Timed$Node.<init>@timing"]):
        out, made = trace(work, ["--json"] + args)
        tables = [json.loads(l)["timing"] for l in out.splitlines() if l.startswith('{"timing"')]
        if len(tables) != 1:
            fail("%s: %d timing objects" % (args, len(tables)))
            continue
        table = tables[0]
        if len(made) != 6:
            fail("the program said %d counts" % len(made))
        for name, (calls, thrown) in made.items():
            row = table.get(name)
            if row is None:
                fail("%s: no row for %s" % (args, name))
                continue
            if (row["calls"], row["thrown"]) != (calls, thrown):
                fail("%s: %s counted %d calls, %d thrown; the program made %d, %d threw"
                     % (args, name, row["calls"], row["thrown"], calls, thrown))
            if not row["minNs"] <= row["p50Ns"] <= row["p99Ns"] <= row["maxNs"] <= row["totalNs"]:
                fail("%s: %s: min, p50, p99, max and total out of order: %s" % (args, name, row))
        pause = table.get("tmg.Timed.pause(J)V", {})
        # five pauses of 1 ms and three of 40 ms
        if not (pause.get("minNs", 0) >= 1_000_000 and pause.get("maxNs", 0) >= 40_000_000
                and pause.get("totalNs", 0) >= 125_000_000 and pause.get("p50Ns", 1 << 62) < 30_000_000
                and pause.get("p99Ns", 0) >= 16_000_000):
            fail("%s: the pauses' durations: %s" % (args, pause))
        if any(l.startswith("{\"tracePoint\"") and "tmg.Timed." in l and "Lambda" not in l for l in out.splitlines()):
            fail("%s: a timed method's call was delivered as an event" % args)

    # Text: the columns, and the rows by total time.
    out, made = trace(work, ["--timing", "--method", "tmg.Timed.*"])
    lines = out.splitlines()
    if "--- vexo-trace timing (calls counted and timed, not recorded)" not in lines:
        fail("no timing table in the text output")
    else:
        at = lines.index("--- vexo-trace timing (calls counted and timed, not recorded)")
        if lines[at + 1].split() != ["calls", "thrown", "total", "mean", "p50", "p99", "max", "method"]:
            fail("the table's columns: " + lines[at + 1])
        rows = [l.split() for l in lines[at + 2:] if re.match(r"^ +\d+ ", l)]
        names = [r[-1] for r in rows]
        if names[:2] != ["tmg.Timed.main([Ljava/lang/String;)V", "tmg.Timed.pause(J)V"]:
            fail("the rows are not by total time: %s" % names)

    # Thresholds: only the calls at least that long are delivered, entry (arguments, subject) and
    # exit together; the shorter ones are counted, in the call table, or in the timing table
    # when timed as well (every call there).
    out, made = trace(work, ["--json", "--method", "tmg.Timed$Node.nap@exits>15ms",
                             "--method", "tmg.Timed.pause@args,exits>20ms,timing"])
    objects = [json.loads(l) for l in out.splitlines() if l.startswith("{")]
    calls = [o for o in objects if "tracePoint" in o]
    naps = [o for o in calls if o["tracePoint"] == "tmg.Timed$Node.nap(JZ)I"]
    pauses = [o for o in calls if o["tracePoint"] == "tmg.Timed.pause(J)V"]
    # A loaded machine may stretch a 1 ms call past the threshold: then it is delivered too.
    if (sum("thrown" in n for n in naps) < 1 or sum("return" in n for n in naps) < 1
            or any(n["durationNs"] < 15_000_000 or n.get("subjectClass") != "tmg.Timed$Node" for n in naps)):
        fail("the slow naps delivered: %s" % naps)
    if sum(p.get("args") == [40] for p in pauses) != 3 or any(p["durationNs"] < 20_000_000 for p in pauses):
        fail("the slow pauses delivered: %s" % pauses)
    summary = [o["summary"] for o in objects if "summary" in o][0]
    nap = summary.get("calls", {}).get("tmg.Timed$Node.nap(JZ)I", {})
    if (nap.get("calls"), nap.get("thrown")) != made.get("tmg.Timed$Node.nap(JZ)I"):
        fail("the call table's naps %s, the program made %s" % (nap, made.get("tmg.Timed$Node.nap(JZ)I")))
    timing = [o["timing"] for o in objects if "timing" in o]
    if not timing or set(timing[0]) != {"tmg.Timed.pause(J)V"} \
            or timing[0]["tmg.Timed.pause(J)V"]["calls"] != made["tmg.Timed.pause(J)V"][0]:
        fail("the timing table of the timed pauses with a threshold: %s" % timing)

    # The breakpoint road sees no exits: nothing is timed, the entries are events, and a note says why.
    out, made = trace(work, ["--method", "tmg.Timed.check@timing"], agent="breakpoints")
    if "--- vexo-trace timing" in out:
        fail("the breakpoint road printed a timing table")
    if not re.search(r"^ +30  tmg\.Timed\.check\(I\)V$", out, re.M):
        fail("the breakpoint road did not record the 30 entries as events")
    if "note: calls not timed for 1 method traced by breakpoints (the option breakpoints)" not in out:
        fail("no note on the calls not timed on the breakpoint road")

    # Attached: a table per interval, and the end's; the intervals' calls add up to at most the end's.
    stop = os.path.join(work, "stop")
    target = subprocess.Popen([java, "-XX:+EnableDynamicAgentLoading", "-Xcheck:jni", "-cp", work, "tmg.Timed",
                               "loop", stop])
    try:
        time.sleep(1)
        env = dict(os.environ, VEXO_BUILD=build)
        p = subprocess.run([tracer, "--pid", str(target.pid), "--duration", "3", "--json", "--timing",
                            "--interval", "0.5", "--method", "tmg.Timed.tick"], env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True, encoding="utf-8", timeout=60)
        print(p.stdout, end="")
        tables = [json.loads(l) for l in p.stdout.splitlines() if l.startswith('{"timing"')]
        intervals = [t for t in tables if "interval" in t]
        ends = [t for t in tables if "interval" not in t]
        ticks = [t["timing"].get("tmg.Timed.tick()V", {}).get("calls", 0) for t in intervals]
        if p.returncode != 0 or len(intervals) < 2 or len(ends) != 1:
            fail("attached: status %d, %d interval tables, %d at the end" % (p.returncode, len(intervals), len(ends)))
        elif [t["interval"] for t in intervals] != list(range(1, len(intervals) + 1)) or min(ticks) < 10:
            fail("attached: the intervals' numbers or counts: %s" % intervals)
        elif not sum(ticks) <= ends[0]["timing"]["tmg.Timed.tick()V"]["calls"] < sum(ticks) + 1000:
            fail("attached: intervals %s against %s at the end" % (ticks, ends[0]))
    finally:
        open(stop, "w").close()
        if target.wait(timeout=30) != 0:
            fail("the attached program ended with status %d" % target.returncode)

print("FAILED: %d" % len(failures) if failures else "timing: all passed")
sys.exit(1 if failures else 0)
