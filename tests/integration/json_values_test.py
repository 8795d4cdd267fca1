#!/usr/bin/env python3
"""Every kind of value in a --json run reads back through a JSON parser as the text run shows it:
the same trace of tests/integration/values (arguments, return values, exceptions with their
messages, arrays with their first elements, a lambda, fields of every kind with where they were
assigned) in both forms, line by line, and the values the program passes, as Python has them.

    json_values_test.py VEXO_TRACE BUILD_DIR SOURCE_DIR
"""
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
failures = []


def fail(message):
    print("FAILED: " + message)
    failures.append(message)


def run(work, extra):
    """The program traced; returns its event lines and the objects it named, by identity."""
    out = os.path.join(work, "events")
    args = [tracer, "--output", out, "--args", "--exits", "--method", "vals.Values.*", "--field", "vals.Values.*"]
    program = subprocess.run(args + extra + ["--", "-cp", work, "vals.Values"], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, encoding="utf-8")
    print(program.stdout, end="")
    if program.returncode != 0:
        fail("exit status %d with %s" % (program.returncode, extra))
    roles = {}
    for line in program.stdout.splitlines():
        m = re.match(r"^object (\S+) (\S+)$", line)
        if m:
            roles[m.group(2)] = m.group(1)
            roles[m.group(2).rsplit("@", 1)[1]] = m.group(1)  # by hash too: a lambda shows another name
    if "getMessage was called" in program.stdout:
        fail("the tracer called an exception's getMessage")
    with open(out, encoding="utf-8") as f:
        lines = f.read().splitlines()
    print("\n".join(lines))
    return lines, roles


ARRAY = re.compile(r"([\w.$]+)\[(\d+)\]((?:\[\])*)\{")


def text_value(s, i, roles):
    """The value written at s[i:] by the text output, as (canonical value, end)."""
    array = ARRAY.match(s, i)
    if array:
        elements, j = [], array.end()
        while s[j] != "}":
            if s.startswith("...", j):
                elements.append("...")
                j += 3
            else:
                value, j = text_value(s, j, roles)
                elements.append(value)
            if s.startswith(", ", j):
                j += 2
        return ("array", array.group(1) + "[]" * (1 + len(array.group(3)) // 2), int(array.group(2)), elements), j + 1
    if s[i] in "\"'":
        j = i + 1
        while s[j] != s[i]:
            j += 2 if s[j] == "\\" else 1
        inner = s[i + 1:j]
        return ("str", json.loads('"' + inner + '"')), j + 1
    m = re.compile(r"[^ ,)}:]+").match(s, i)
    token = m.group(0)
    if token == "null":
        value = None
    elif token in ("true", "false"):
        value = ("bool", token == "true")
    elif token in ("NaN", "Infinity", "-Infinity"):
        value = ("str", token)
    elif "@" in token:
        value = ("object", token.rsplit("@", 1)[0], roles.get(token, roles.get(token.rsplit("@", 1)[1])))
        if value[2] is None:
            fail("text: an object the program did not name: " + token)
    else:
        value = ("number", float(token) if re.search("[.eE]", token) else int(token))
    return value, m.end()


def json_value(v, roles):
    if v is None:
        return None
    if isinstance(v, bool):
        return ("bool", v)
    if isinstance(v, (int, float)):
        return ("number", v)
    if isinstance(v, str):
        return ("str", v)
    if isinstance(v, dict) and set(v) == {"class", "identityHash", "length", "elements"}:
        name, dims = v["class"], 0
        while name.startswith("["):
            name, dims = name[1:], dims + 1
        name = {"I": "int", "J": "long", "Z": "boolean", "B": "byte", "C": "char", "S": "short", "F": "float",
                "D": "double"}.get(name, name[1:-1] if name.startswith("L") else name)
        elements = [json_value(e, roles) for e in v["elements"]]
        if len(elements) != min(v["length"], 8):
            fail("JSON: an array's elements are not its first eight: %r" % v)
        return ("array", name + "[]" * dims, v["length"], elements + (["..."] if v["length"] > 8 else []))
    if isinstance(v, dict) and set(v) <= {"class", "identityHash", "lambda"} and re.fullmatch("[0-9a-f]+", v["identityHash"]):
        role = roles.get(v["class"] + "@" + v["identityHash"])
        if role is None:
            fail("JSON: an object the program did not name: %r" % v)
        return ("object", v.get("lambda", v["class"]), role)
    fail("JSON: not a value of the agreed forms: %r" % (v,))
    return ("?", repr(v))


def parse_text(line, roles):
    """label, and what the line shows: access and value, args, return or thrown."""
    label, rest = line.split("  ", 1)
    shown = {}
    rest = rest.split("  ", 1)[1] if "  " in rest else ""  # the subject
    for access in ("assigned ", "read     "):
        if rest.startswith(access):
            shown["access"] = access.strip()
            shown["value"], end = text_value(rest, len(access), roles)
            rest = rest[end:].lstrip()
    if rest.startswith("("):
        args, i = [], 1
        while rest[i] != ")":
            value, i = text_value(rest, i, roles)
            args.append(value)
            if rest.startswith(", ", i):
                i += 2
        shown["args"] = args
        rest = rest[i + 1:].lstrip()
    if rest.startswith("-> void"):
        pass
    elif rest.startswith("-> "):
        shown["return"], _ = text_value(rest, 3, roles)
    elif rest.startswith("threw "):
        thrown, end = text_value(rest, 6, roles)
        message = None
        if rest.startswith(": ", end):
            message, _ = text_value(rest, end + 2, roles)
        shown["thrown"] = (thrown, message)
    site = re.search(r"  at (\S+)$", line)
    if site:
        shown["site"] = site.group(1)
    return label, shown


def parse_json(obj, roles):
    shown = {}
    if "access" in obj:
        shown["access"] = obj["access"]
        shown["value"] = json_value(obj["value"], roles)
    if "args" in obj:
        shown["args"] = [json_value(v, roles) for v in obj["args"]]
    if "return" in obj:
        shown["return"] = json_value(obj["return"], roles)
    if "thrown" in obj:
        thrown = obj["thrown"]
        message = thrown.get("message") if isinstance(thrown, dict) else None
        if isinstance(thrown, dict):
            thrown = {k: v for k, v in thrown.items() if k != "message"}
        shown["thrown"] = (json_value(thrown, roles), None if message is None else ("str", message))
    if "site" in obj:
        s = obj["site"]
        shown["site"] = "%s.%s(%s%s)" % (s["class"], s["method"], s["file"] or "Unknown Source",
                                         ":%d" % s["line"] if s["file"] and s["line"] >= 0 else "")
    return obj["tracePoint"], shown


work = tempfile.mkdtemp()
subprocess.run([javac, "-d", work, os.path.join(sources, "vals", "Values.java")], check=True)
text_lines, text_roles = run(work, [])
json_lines, json_roles = run(work, ["--json"])

events = []
summary = None
for line in json_lines:
    try:
        obj = json.loads(line)
    except ValueError as e:
        fail("not JSON: %s (%s)" % (line, e))
        continue
    if "summary" in obj:
        summary = obj["summary"]
    else:
        events.append(obj)
text_events = [l for l in text_lines if l.startswith("vals.")]
if len(events) != len(text_events) or not events:
    fail("%d JSON events, %d text lines" % (len(events), len(text_events)))
for t, j in zip(text_events, events):
    a, b = parse_text(t, text_roles), parse_json(j, json_roles)
    if a != b:
        fail("the JSON line reads otherwise than the text line:\n  %s\n  %s\n  text %r\n  JSON %r" % (t, json.dumps(j), a, b))

# What the program passed, as a JSON reader has it.
by_label = {}
for e in events:
    by_label.setdefault(e["tracePoint"], []).append(e)


def first(label, key):
    found = by_label.get(label)
    return found[0].get(key) if found else "(no event of %s)" % label


expected_args = {
    "vals.Values.integers(IJSB)V": [-7, -2 ** 63, 300, -128],
    "vals.Values.reals(DDFDF)V": [2.5e-300, "NaN", 0.1, "-Infinity", "Infinity"],
    "vals.Values.characters(CCCZZ)V": ["x", "\u00e9", "\n", True, False],
    "vals.Values.strings(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V":
        ["say \"hi\"\\ back\n\ttab, (paren)", "gr\u00fc\u00df \u4e16\u754c \U0001f600", None, ""],
}
for label, args in expected_args.items():
    if first(label, "args") != args:
        fail("%s: args %r, expected %r" % (label, first(label, "args"), args))
objects = first("vals.Values.objects(Ljava/lang/Object;[I[[Ljava/lang/String;)V", "args")
if not (isinstance(objects, list) and [o["class"] for o in objects] == ["java.lang.Object", "[I", "[[Ljava.lang.String;"]):
    fail("objects: %r" % (objects,))
for label, key, value in [("vals.Values.notANumber()D", "return", "NaN"), ("vals.Values.letter()C", "return", "q"),
                          ("vals.Values.text(Ljava/lang/String;)Ljava/lang/String;", "return", "a\"b")]:
    if first(label, key) != value:
        fail("%s: %s %r, expected %r" % (label, key, first(label, key), value))
thrown = first("vals.Values.thrower()I", "thrown")
if not (isinstance(thrown, dict) and thrown.get("class") == "java.lang.IllegalStateException" and thrown.get("message") == "thrown"):
    fail("thrower: thrown %r" % (thrown,))
# The message the exception holds, though its getMessage says otherwise (and throws).
loud = first("vals.Values.loud()I", "thrown")
if not (isinstance(loud, dict) and loud.get("class") == "vals.Values$Loud" and loud.get("message") == 'its own "message"'):
    fail("loud: thrown %r" % (loud,))
arrays = first("vals.Values.arrays([I[Ljava/lang/Object;[J)V", "args")
if not (isinstance(arrays, list) and [(a["length"], len(a["elements"])) for a in arrays] == [(3, 3), (10, 8), (0, 0)]
        and arrays[0]["elements"] == [1, 2, 3] and arrays[1]["elements"][:2] == ["s0", 1]):
    fail("arrays: %r" % (arrays,))
ran = first("vals.Values.run(Ljava/lang/Runnable;)V", "args")
if not (isinstance(ran, list) and ran[0].get("lambda") == "vals.Values.lambda$task$0"):
    fail("run: the lambda %r" % (ran,))
sites = {e["tracePoint"]: e.get("site") for e in events if e.get("kind") == "field"}
if not all(s and s["class"] == "vals.Values" and s["method"] == "main" and s["file"] == "Values.java" and s["line"] > 0
           for s in sites.values()):
    fail("field sites: %r" % (sites,))
values = {e["tracePoint"]: e["value"] for e in events if e.get("kind") == "field" and e["access"] == "assigned"}
for field, value in [("vals.Values.string", "field \"value\"\n"), ("vals.Values.real", "NaN"), ("vals.Values.single", -0.5),
                     ("vals.Values.whole", 2 ** 63 - 1), ("vals.Values.letter", "\u00e9"), ("vals.Values.flag", True),
                     ("vals.Values.numbers", None)]:
    if values.get(field, "(none)") != value:
        fail("%s: last value %r, expected %r" % (field, values.get(field, "(none)"), value))
if not (isinstance(values.get("vals.Values.object"), dict) and values["vals.Values.object"]["class"] == "java.lang.Object"):
    fail("vals.Values.object: %r" % (values.get("vals.Values.object"),))
armed = summary.get("armed") if summary else None
if not (isinstance(armed, dict) and set(armed) == {"tracePoints", "classes", "ms"}
        and all(isinstance(v, int) for v in armed.values()) and armed["classes"] == 1 and armed["tracePoints"] > 10):
    fail("the summary's armed: %r" % (armed,))

if not failures:
    print("JSON values: all checks passed")
sys.exit(1 if failures else 0)
