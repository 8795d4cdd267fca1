#!/usr/bin/env python3
"""The report files (--html, --trace-events) beside the trace's own output, on tests/integration/values
(values of every kind as arguments, results, an exception and fields):

- the text and the JSON output are what they are without the files (objects compared by the role
  the program names them with, durations left out);
- the trace-events file has, in the order of the JSON lines of the same run, one event per line:
  a complete event per call with its subject, arguments, result or exception and duration, an
  instant per field access or entry without exit, on the thread its metadata names;
- the page fetches nothing: no element loads a file, no script or style is external;
- a file that cannot be written is one line on standard error, the other file is written, and
  the exit status is the program's.

    report_files_test.py VEXO_TRACE BUILD_DIR SOURCE_DIR
"""
import difflib
import json
import os
import re
import subprocess
import sys
import tempfile

tracer, build, sources = sys.argv[1:4]
java_home = os.environ.get("JAVA_HOME")
javac = os.path.join(java_home, "bin", "javac") if java_home else "javac"
env = dict(os.environ, VEXO_BUILD=build)
work = tempfile.mkdtemp()
failures = []


def fail(message):
    print("FAILED: " + message)
    failures.append(message)


def run(extra, main="vals.Values"):
    """The program traced with EXTRA; returns (exit status, standard output, standard error, roles by identity)."""
    args = [tracer, "--args", "--exits", "--threads", "--method", "vals.Values.*", "--field", "vals.Values.*"] + extra
    p = subprocess.run(args + ["--", "-cp", work, main], env=env, cwd=work, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, text=True, encoding="utf-8")
    roles = dict((m.group(2), m.group(1)) for m in re.finditer(r"^object (\S+) (\S+)$", p.stdout, re.M))
    return p.returncode, p.stdout, p.stderr, roles


def text_events(stdout, roles):
    """The event and summary lines, objects by role, durations and the arming time left out."""
    lines = []
    for line in stdout.splitlines():
        if line.startswith("object ") or line.startswith("rounds "):
            continue
        line = re.sub(r"[^\s(,]+@[0-9a-f]+", lambda m: roles.get(m.group(0), "?"), line)
        lines.append(re.sub(r"\b\d+(\.\d+)? (ns|µs|us|ms|s)\b", "D", line))
    # The calls table is in the order of the calls' times, its columns as wide as the times.
    header = "--- vexo-trace calls (trace points with exits)"
    table = lines.index(header) + 2 if header in lines else len(lines)
    return lines[:table] + sorted(" ".join(l.split()) for l in lines[table:])


def json_events(path, roles):
    with open(path, encoding="utf-8") as f:
        objects = [json.loads(l) for l in f if l.startswith("{")]
    def plain(o):
        if isinstance(o, dict):
            if set(o) <= {"class", "identityHash", "lambda"} and "identityHash" in o:
                return roles.get(o["class"] + "@" + o["identityHash"], "?")
            return {k: plain(v) for k, v in o.items()
                    if k not in ("durationNs", "timeNs", "ms", "totalNs", "meanNs", "maxNs", "identityHash")}
        return [plain(v) for v in o] if isinstance(o, list) else o
    return objects, [plain(o) for o in objects]


subprocess.run([javac, "-d", work, os.path.join(sources, "vals", "Values.java")], check=True)

# The text output with and without the files.
_, plain_out, _, plain_roles = run([])
status, out, err, roles = run(["--html", "r.html", "--trace-events", "t.json"])
if status != 0 or err:
    fail("with the files: exit status %d, standard error %r" % (status, err))
if text_events(out, roles) != text_events(plain_out, plain_roles):
    fail("the text output differs with the files:\n" + "\n".join(
        difflib.unified_diff(text_events(plain_out, plain_roles), text_events(out, roles), lineterm="")))

# The JSON output with and without them, and the trace-events file against it.
_, plain_json = json_events(os.path.join(work, "plain.json"), run(["--json", "--output", "plain.json"])[3])
status, _, err, roles = run(["--json", "--times", "--output", "e.json", "--trace-events", "events.json"])
raw, with_files = json_events(os.path.join(work, "e.json"), roles)
if with_files != plain_json:
    fail("the JSON output differs with the files")
events = [o for o in raw if "tracePoint" in o]
with open(os.path.join(work, "events.json"), encoding="utf-8") as f:
    trace = json.load(f)
threads = {e["tid"]: e["args"]["name"] for e in trace["traceEvents"] if e["ph"] == "M" and e["name"] == "thread_name"}
shown = [e for e in trace["traceEvents"] if e["ph"] != "M"]
if not events or len(shown) != len(events):
    fail("%d trace events for %d JSON events" % (len(shown), len(events)))


def array_type(name, length):
    """[[Ljava.lang.String; of length 2 as the text shows it: java.lang.String[2][]."""
    dims = len(name) - len(name.lstrip("["))
    element = name[dims:]
    element = {"I": "int", "J": "long", "Z": "boolean", "B": "byte", "C": "char", "S": "short", "F": "float",
               "D": "double"}.get(element, element[1:-1])
    return "%s[%d]%s" % (element, length, "[]" * (dims - 1))


def object_text(v):
    """An object of a JSON line as the text output shows it."""
    if "length" in v:
        elements = [object_text(e) if isinstance(e, dict) else element_text(e) for e in v["elements"]]
        return array_type(v["class"], v["length"]) + "{" + ", ".join(elements + (["..."] if v["length"] > 8 else [])) + "}"
    shown = v.get("lambda", v["class"]) + "@" + v["identityHash"]
    return shown + ": " + json.dumps(v["message"], ensure_ascii=False) if v.get("message") is not None else shown


def element_text(v):
    if v is None:
        return "null"
    if isinstance(v, bool):
        return "true" if v else "false"
    return json.dumps(v, ensure_ascii=False) if isinstance(v, str) else str(v)


def as_shown(v):
    """A JSON line's value as the trace-events file writes it: numbers and literals as they are, text as the text output shows it."""
    if isinstance(v, dict):
        return object_text(v)
    if isinstance(v, str) and v not in ("NaN", "Infinity", "-Infinity"):
        return [json.dumps(v, ensure_ascii=False), "'" + json.dumps(v, ensure_ascii=False)[1:-1] + "'"] if len(v) == 1 \
            else json.dumps(v, ensure_ascii=False)
    return v


def same(shown_value, json_value):
    want = as_shown(json_value)
    return shown_value in want if isinstance(want, list) else shown_value == want


for t, j in zip(shown, events):
    call = "durationNs" in j
    subject = "static" if j.get("static") else j["subjectClass"] + "@" + j["identityHash"]
    problems = []
    if t["name"] != j["tracePoint"] or t["ph"] != ("X" if call else "i") or threads.get(t["tid"]) != j["thread"]:
        problems.append("name, phase or thread")
    if round(t["ts"] * 1000) != j["timeNs"] or (call and round(t["dur"] * 1000) != j["durationNs"]):
        problems.append("time or duration")
    a = t["args"]
    if a["subject"] != subject:
        problems.append("subject")
    if len(a.get("args", [])) != len(j.get("args", [])) or not all(same(x, y) for x, y in zip(a.get("args", []), j.get("args", []))):
        problems.append("arguments")
    for key in ("return", "thrown", "value"):
        if (key in a) != (key in j) or (key in j and not same(a[key], j[key])):
            problems.append(key)
    if j.get("access") != a.get("access"):
        problems.append("access")
    s = j.get("site")
    if ("site" in a) != (s is not None) or (s and not a["site"].startswith(s["class"] + "." + s["method"] + "(")):
        problems.append("site")
    if problems:
        fail("the trace event differs from its JSON line in %s:\n  %s\n  %s" % (", ".join(problems), json.dumps(t), json.dumps(j)))

# The page loads nothing: its script and style are inline, no element names a file.
with open(os.path.join(work, "r.html"), encoding="utf-8") as f:
    page = f.read()
external = re.findall(r"<link\b|<(?:script|img|iframe)\b[^>]*\bsrc=|@import|url\(|\bfetch\(|XMLHttpRequest|https?://(?!www\.w3\.org/2000/svg)", page)
if external or "/*VEXO:" in page or "VEXO:META" in page:
    fail("the page refers to something outside it, or keeps a placeholder: %r" % external)

# A file that cannot be written: one line, the other file written, the exit status the program's.
missing = os.path.join(work, "no-such-dir", "r.html")
status, out, err, roles = run(["--html", missing, "--trace-events", "t2.json"])
said = [l for l in err.splitlines() if l.startswith("vexo-trace: ")]
if status != 0 or len(said) != 1 or not said[0].startswith("vexo-trace: cannot write %s: " % missing):
    fail("an unwritable page: exit status %d, standard error %r" % (status, err))
if not os.path.exists(os.path.join(work, "t2.json")):
    fail("an unwritable page: the trace-events file is missing")
if text_events(out, roles) != text_events(plain_out, plain_roles):
    fail("an unwritable page: the text output differs:\n" + "\n".join(
        difflib.unified_diff(text_events(plain_out, plain_roles), text_events(out, roles), lineterm="")))
if [n for n in os.listdir(work) if n.endswith(".partial")]:
    fail("a partial file was left: %r" % os.listdir(work))
plain_status = run([], main="vals.NoSuchClass")[0]
status, _, err, _ = run(["--trace-events", missing], main="vals.NoSuchClass")
if plain_status == 0 or status != plain_status or err.count("vexo-trace: cannot write ") != 1:
    fail("a program that fails: exit status %d with an unwritable file, %d without; %r" % (status, plain_status, err))

if failures:
    print("%d failures" % len(failures))
    sys.exit(1)
print("all passed")
