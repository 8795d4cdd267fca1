'use strict';
// The report's data: the run's description (JSON), the table of strings and the records, both
// deflated and in base64, as ReportFiles writes them. Decoded here into typed arrays, one entry
// a record, and laid out: on each thread, calls nest by time, each with its depth and parent.
// A record's format is described in ReportLog.java.

const Vexo = {};

Vexo.CALL = 0; Vexo.ENTRY = 1; Vexo.EXIT = 2; Vexo.READ = 3; Vexo.ASSIGNED = 4;
// Value kinds of the value pool.
Vexo.V_INT = 0; Vexo.V_STRING = 1; Vexo.V_NULL = 2; Vexo.V_TRUE = 3; Vexo.V_FALSE = 4; Vexo.V_FLOAT = 5; Vexo.V_DOUBLE = 6;
Vexo.V_DIGITS = 7;  // a whole number beyond 2^50, as its digits in the strings

Vexo.bytesOf = function (id) {
  const text = document.getElementById(id).textContent;
  if (Uint8Array.fromBase64) return Uint8Array.fromBase64(text.replace(/\s+/g, ''));
  const bin = atob(text);  // drops the line breaks itself
  const bytes = new Uint8Array(bin.length);
  for (let i = 0; i < bin.length; i++) bytes[i] = bin.charCodeAt(i);
  return bytes;
};

Vexo.inflate = async function (bytes) {
  if (typeof DecompressionStream === 'undefined') {
    throw new Error('this browser cannot inflate the report\'s data (it has no DecompressionStream)');
  }
  const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('deflate'));
  return new Uint8Array(await new Response(stream).arrayBuffer());
};

/** Decodes the records into columns and a pool of values. */
Vexo.decode = function (bytes, meta) {
  const n = meta.records;
  const m = {
    n, meta,
    kind: new Uint8Array(n), threw: new Uint8Array(n), hasArgs: new Uint8Array(n), thread: new Uint32Array(n), point: new Uint32Array(n),
    subject: new Uint32Array(n), start: new Float64Array(n), dur: new Float64Array(n),
    argFirst: new Uint32Array(n), argCount: new Uint32Array(n), value: new Int32Array(n).fill(-1),
    site: new Int32Array(n).fill(-1), chain: new Int32Array(n).fill(-1),
  };
  let cap = Math.max(1024, n * 2);
  let vt = new Uint8Array(cap), vn = new Float64Array(cap), nv = 0;
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  let p = 0;
  function rd() {
    let b = bytes[p++];
    if (b < 128) return b;
    let v = b & 127, mul = 128;
    do {
      b = bytes[p++];
      v += (b & 127) * mul;
      mul *= 128;
    } while (b >= 128);
    return v;
  }
  function unzig(z) {
    return z % 2 ? -(z + 1) / 2 : z / 2;
  }
  function value() {
    if (nv === cap) {
      cap *= 2;
      const t = new Uint8Array(cap); t.set(vt); vt = t;
      const u = new Float64Array(cap); u.set(vn); vn = u;
    }
    const v = rd(), tag = v % 4, payload = Math.floor(v / 4);
    if (tag === 0) { vt[nv] = Vexo.V_INT; vn[nv] = unzig(payload); }
    else if (tag === 1) { vt[nv] = Vexo.V_STRING; vn[nv] = payload; }
    else if (payload === 3) { vt[nv] = Vexo.V_FLOAT; vn[nv] = view.getFloat32(p, true); p += 4; }
    else if (payload === 4) { vt[nv] = Vexo.V_DOUBLE; vn[nv] = view.getFloat64(p, true); p += 8; }
    else if (payload === 5) { vt[nv] = Vexo.V_DIGITS; vn[nv] = rd(); }
    else vt[nv] = payload === 1 ? Vexo.V_TRUE : payload === 2 ? Vexo.V_FALSE : Vexo.V_NULL;
    return nv++;
  }
  let start = 0;
  for (let i = 0; i < n; i++) {
    const flags = rd(), kind = flags & 7;
    m.kind[i] = kind;
    m.threw[i] = flags & 8 ? 1 : 0;
    m.thread[i] = rd();
    m.point[i] = rd();
    m.subject[i] = rd();
    start += unzig(rd());
    m.start[i] = start;
    m.dur[i] = kind === Vexo.CALL || kind === Vexo.EXIT ? rd() : -1;
    if (flags & 16) {
      m.hasArgs[i] = 1;
      const count = rd();
      m.argCount[i] = count;
      m.argFirst[i] = nv;
      for (let a = 0; a < count; a++) value();
    }
    if (flags & 32 || kind === Vexo.READ || kind === Vexo.ASSIGNED) m.value[i] = value();
    if (flags & 64) m.chain[i] = rd();  // the callers from the call's recorded stack
    if (flags & 128) m.site[i] = rd();  // where a field was accessed, a string
  }
  if (p !== bytes.length) throw new Error('the records end after ' + p + ' of ' + bytes.length + ' bytes');
  m.vt = vt; m.vn = vn;
  return m;
};

/** Whether record i is a call with a duration (a bar); the others are instants (marks). */
Vexo.timed = function (m, i) {
  return m.dur[i] >= 0;
};

/**
 * Nests each thread's records by time: sorted by start (a longer one first at a tie), a call
 * holds what starts before it ends. Gives each record its depth and parent (the enclosing
 * call, or -1), each call an end within its parent's, and each thread its rows (by thread index
 * in m.lanes, in the order of their first events in m.laneOrder).
 */
Vexo.layout = function (m, mostRows) {
  const n = m.n, threads = m.meta.threads.length;
  const end = new Float64Array(n);
  for (let i = 0; i < n; i++) end[i] = m.start[i] + Math.max(0, m.dur[i]);
  const counts = new Uint32Array(threads);
  for (let i = 0; i < n; i++) counts[m.thread[i]]++;
  const byThread = [];
  for (let t = 0; t < threads; t++) byThread.push(new Uint32Array(counts[t]));
  counts.fill(0);
  for (let i = 0; i < n; i++) { const t = m.thread[i]; byThread[t][counts[t]++] = i; }
  const start = m.start, dur = m.dur;
  m.depth = new Uint32Array(n);
  m.parent = new Int32Array(n);
  m.end = end;  // within the parent's end
  m.pos = new Uint32Array(n);  // where the record is in its thread's order
  m.lanes = [];
  m.notDrawn = 0;
  const stack = [];
  for (let t = 0; t < threads; t++) {
    const order = byThread[t];
    order.sort((a, b) => start[a] - start[b] || (dur[b] - dur[a]) || a - b);
    const bars = [], marks = [];
    let calls = 0, fields = 0, entries = 0, maxDepth = -1;
    stack.length = 0;
    for (let k = 0; k < order.length; k++) {
      const i = order[k], s = start[i];
      m.pos[i] = k;
      while (stack.length && end[stack[stack.length - 1]] <= s) stack.pop();
      const d = stack.length, parent = d ? stack[d - 1] : -1;
      m.depth[i] = d;
      m.parent[i] = parent;
      if (d >= mostRows) m.notDrawn++;
      const kind = m.kind[i];
      if (dur[i] >= 0) {
        calls++;
        if (parent >= 0 && end[i] > end[parent]) end[i] = end[parent];
        stack.push(i);
        if (d < mostRows) (bars[d] = bars[d] || []).push(i);
      } else {
        if (kind === Vexo.READ || kind === Vexo.ASSIGNED) fields++; else entries++;
        if (d < mostRows) (marks[d] = marks[d] || []).push(i);
      }
      if (d < mostRows) maxDepth = Math.max(maxDepth, d);
    }
    const row = list => {
      const idx = Uint32Array.from(list || []);
      const s = new Float64Array(idx.length), e = new Float64Array(idx.length);
      for (let k = 0; k < idx.length; k++) { s[k] = start[idx[k]]; e[k] = end[idx[k]]; }
      return { idx, s, e };
    };
    const rows = [];
    for (let d = 0; d <= maxDepth; d++) rows.push({ bars: row(bars[d]), marks: row(marks[d]) });
    m.lanes.push({ thread: t, name: m.meta.threads[t], order, rows, calls, fields, entries,
      first: order.length ? start[order[0]] : Infinity });
  }
  // Shown in the order the threads' first events happened.
  m.laneOrder = m.lanes.slice().sort((a, b) => a.first - b.first || a.thread - b.thread);
  let first = Infinity, last = -Infinity;
  for (let i = 0; i < n; i++) {
    if (start[i] < first) first = start[i];
    if (end[i] > last) last = end[i];
  }
  m.first = n ? first : 0;
  m.last = n ? Math.max(last, first + 1) : 1;
};

/** The direct children of call i (calls and instants), in time order; at most `most`. */
Vexo.children = function (m, i, most) {
  const order = m.lanes[m.thread[i]].order, out = [];
  let total = 0;
  for (let k = m.pos[i] + 1; k < order.length; k++) {
    const c = order[k];
    if (m.start[c] >= m.end[i]) break;
    if (m.parent[c] !== i) continue;
    total++;
    if (out.length < most) out.push(c);
  }
  return { list: out, total };
};

/** A value of the pool as the text output shows it. */
Vexo.valueText = function (m, v) {
  switch (m.vt[v]) {
    case Vexo.V_INT: return String(m.vn[v]);
    case Vexo.V_STRING: case Vexo.V_DIGITS: return m.strings[m.vn[v]];
    case Vexo.V_NULL: return 'null';
    case Vexo.V_TRUE: return 'true';
    case Vexo.V_FALSE: return 'false';
    case Vexo.V_FLOAT: return Vexo.javaFloat(m.vn[v]);
    default: return Vexo.javaDouble(m.vn[v]);
  }
};

/** The number a value stands for on a chart, or NaN. */
Vexo.valueNumber = function (m, v) {
  const t = m.vt[v];
  if (t === Vexo.V_DIGITS) return Number(m.strings[m.vn[v]]);
  return t === Vexo.V_INT || t === Vexo.V_FLOAT || t === Vexo.V_DOUBLE ? m.vn[v] : NaN;
};

/** Double.toString: the shortest digits, plain from 10^-3 to 10^7, else as d.dddE±n. */
Vexo.javaDouble = function (x) {
  if (Number.isNaN(x)) return 'NaN';
  if (!Number.isFinite(x)) return x > 0 ? 'Infinity' : '-Infinity';
  if (x === 0) return Object.is(x, -0) ? '-0.0' : '0.0';
  const a = Math.abs(x);
  if (a >= 1e-3 && a < 1e7) {
    const s = String(x);
    return s.includes('.') ? s : s + '.0';
  }
  let [mant, exp] = x.toExponential().split('e');
  if (!mant.includes('.')) mant += '.0';
  return mant + 'E' + (exp[0] === '+' ? exp.slice(1) : exp);
};

/** Float.toString: the fewest digits that read back as the same float. */
Vexo.javaFloat = function (x) {
  if (!Number.isFinite(x)) return Vexo.javaDouble(x);
  for (let p = 1; p <= 9; p++) {
    const y = Number(x.toPrecision(p));
    if (Math.fround(y) === x) return Vexo.javaDouble(y);
  }
  return Vexo.javaDouble(x);
};

/**
 * x with `digits` decimals as Java's String.format("%.Nf") writes it: its shortest decimal form
 * rounded half up (1.15 is 1.2 there, where toFixed gives 1.1).
 */
Vexo.fixed = function (x, digits) {
  let s = String(x);
  if (/e/.test(s)) return x.toFixed(digits);
  const sign = s[0] === '-' ? '-' : '';
  if (sign) s = s.slice(1);
  const [whole, frac = ''] = s.split('.');
  if (frac.length <= digits) return sign + whole + (digits ? '.' + frac.padEnd(digits, '0') : '');
  const d = (whole + frac.slice(0, digits)).split('').map(Number);
  if (frac[digits] >= '5') {
    let i = d.length - 1;
    while (i >= 0 && d[i] === 9) d[i--] = 0;
    if (i < 0) d.unshift(1); else d[i]++;
  }
  const all = d.join(''), cut = all.length - digits;
  return sign + (all.slice(0, cut) || '0') + (digits ? '.' + all.slice(cut) : '');
};

/** A duration as the text output writes it: 850 ns, 1.2 µs, 3.4 ms, 1.25 s. */
Vexo.duration = function (ns) {
  ns = Math.round(ns);
  if (ns < 1000) return ns + ' ns';
  if (ns < 999950) return Vexo.fixed(ns / 1e3, 1) + ' µs';
  if (ns < 999950000) return Vexo.fixed(ns / 1e6, 1) + ' ms';
  return Vexo.fixed(ns / 1e9, 2) + ' s';
};

/** A time since the trace started, as the text output's --times column: +12.345 ms. */
Vexo.time = function (ns) {
  return (ns >= 0 ? '+' : '') + Vexo.fixed(ns / 1e6, 3) + ' ms';
};

Vexo.count = function (n) {
  return n.toLocaleString('en-US');
};

/** One line for record i: what the text output's line says, without the thread and time. */
Vexo.describe = function (m, i) {
  const p = m.meta.points[m.point[i]], kind = m.kind[i];
  const parts = { label: p.label, subject: m.strings[m.subject[i]] };
  if (kind === Vexo.READ || kind === Vexo.ASSIGNED) {
    parts.access = kind === Vexo.ASSIGNED ? 'assigned' : 'read';
    parts.value = Vexo.valueText(m, m.value[i]);
    if (m.site[i] >= 0) parts.site = m.strings[m.site[i]];
    return parts;
  }
  if (m.hasArgs[i]) {
    const a = [];
    for (let k = 0; k < m.argCount[i]; k++) a.push(Vexo.valueText(m, m.argFirst[i] + k));
    parts.args = '(' + a.join(', ') + ')';
  }
  if (kind === Vexo.CALL || kind === Vexo.EXIT) {
    if (m.threw[i]) parts.outcome = 'threw ' + (m.value[i] >= 0 ? Vexo.valueText(m, m.value[i]) : '(collected)');
    else parts.outcome = '-> ' + (m.value[i] >= 0 ? Vexo.valueText(m, m.value[i]) : 'void');
    parts.duration = Vexo.duration(m.dur[i]);
    if (kind === Vexo.EXIT) parts.note = 'its entry was not seen';
  } else if (p.exits) {
    parts.note = 'no exit recorded (the trace ended first, or this road records no exits)';
  } else {
    parts.note = 'entry';
  }
  return parts;
};

Vexo.load = async function () {
  const meta = JSON.parse(document.getElementById('vexo-meta').textContent);
  const [strings, chains, records] = await Promise.all([Vexo.inflate(Vexo.bytesOf('vexo-strings')),
    Vexo.inflate(Vexo.bytesOf('vexo-chains')), Vexo.inflate(Vexo.bytesOf('vexo-records'))]);
  const m = Vexo.decode(records, meta);
  m.strings = JSON.parse(new TextDecoder().decode(strings));
  m.chains = JSON.parse(new TextDecoder().decode(chains));
  return m;
};
