'use strict';
// The page: the header and the summary from the run's description at once, then the timeline
// once the records are read, then the call tree and the field histories. What the page or the
// trace left out is listed under the header. window.vexoReport lets a test drive the page.

Vexo.el = function (tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
};

Vexo.header = function (meta) {
  const s = meta.summary, facts = document.getElementById('facts');
  const fact = (name, value) => {
    facts.append(Vexo.el('dt', null, name), Vexo.el('dd', null, value));
  };
  document.title = 'vexo-trace: ' + (meta.program || 'java');
  fact('program', meta.program || '(unknown)');
  fact('JVM', meta.jvm || '(unknown)');
  fact(meta.attached ? 'attached' : 'started', new Date(meta.startedMs).toLocaleString('en-GB') + (meta.attached ? ' to process ' + meta.pid : ''));
  fact('traced for', Vexo.duration(meta.durationNs));
  fact('events', Vexo.count(s.events));
  const armed = s.armed ? s.armed.tracePoints : Object.keys(s.tracePoints).length;
  fact('trace points', Vexo.count(armed) + ' armed, ' + Vexo.count(Object.values(s.tracePoints).filter(n => n > 0).length) + ' with events');
  fact('limit', Vexo.count(s.limit) + (s.limit === 1 ? ' event' : ' events') + (s.overflow ? ': reached, later hits were not recorded' : ', not reached'));
};

/** Every bound that left something out, one line each. */
Vexo.bounds = function (meta, found) {
  const s = meta.summary, lines = [];
  if (s.overflow) lines.push('The recording limit of ' + Vexo.count(s.limit) + (s.limit === 1 ? ' event' : ' events') + ' was reached: later hits were not recorded.');
  if (s.dropped) lines.push(Vexo.count(s.dropped) + ' events were dropped by the tracer (it fell behind, or had no memory to deliver them); the summary counts them by trace point.');
  if (!s.complete) lines.push('The trace ended before every recorded event was written: some are missing here too.');
  if (meta.notKept) lines.push(Vexo.count(meta.notKept) + ' events are not on this page (' + (meta.stoppedBecause || 'a bound') + '); the summary counts them.');
  if (meta.valuesNotKept) lines.push(Vexo.count(meta.valuesNotKept) + ' values show as … (the page keeps a bounded table of texts).');
  if (meta.valuesCut) lines.push(Vexo.count(meta.valuesCut) + ' texts longer than ' + meta.longestValue + ' characters are cut.');
  if (meta.chainsNotKept) lines.push(Vexo.count(meta.chainsNotKept) + ' calls recorded with stacks beyond the first ' + Vexo.count(meta.mostChains) + ' distinct caller chains are placed in the call tree by their nesting.');
  if (meta.threadsMerged) lines.push('The events of threads beyond the first ' + Vexo.count(meta.mostThreads) + ' share one lane (' + Vexo.count(meta.threadsMerged) + ' events).');
  if (found.notDrawn) lines.push(Vexo.count(found.notDrawn) + ' events nested deeper than ' + found.mostRows + ' calls are not drawn on the timeline (the call tree has them).');
  if (found.merged) lines.push(Vexo.count(found.merged) + ' calls on paths beyond the first ' + Vexo.count(found.mostNodes) + ' nodes of the call tree are counted in "(more call paths)".');
  if (found.objects) lines.push(Vexo.count(found.objects) + ' objects with fewer field events are not shown in the field histories.');
  if (found.charts) lines.push(Vexo.count(found.charts) + (found.charts === 1 ? ' field chart' : ' field charts') + ' of more than 2,000 assignments ' + (found.charts === 1 ? 'is' : 'are') + ' drawn as its outline, without a point each.');
  if (found.lists) lines.push(Vexo.count(found.lists) + (found.lists === 1 ? ' list' : ' lists') + ' of field values ' + (found.lists === 1 ? 'shows its' : 'show their') + ' first 100 entries only.');
  const box = document.getElementById('bounds');
  box.replaceChildren();
  if (!lines.length) return;
  box.append(Vexo.el('b', null, 'Left out'));
  const ul = Vexo.el('ul');
  for (const l of lines) ul.append(Vexo.el('li', null, l));
  box.append(ul);
};

/** The summary's tables, as the text output prints them. */
Vexo.summary = function (meta) {
  const s = meta.summary, root = document.getElementById('summary');
  const table = (cls, heads) => {
    const t = Vexo.el('table', cls), tr = Vexo.el('tr');
    for (const h of heads) tr.append(Vexo.el('th', h === 'trace point' ? 'label' : null, h));
    t.append(Vexo.el('thead'));
    t.firstChild.append(tr);
    t.append(Vexo.el('tbody'));
    return t;
  };
  const points = table('points', ['events', 'dropped', 'trace point']);
  let quiet = 0;
  for (const [label, n] of Object.entries(s.tracePoints)) {
    const dropped = (s.droppedBy || {})[label] || 0;
    if (!n && !dropped) { quiet++; continue; }
    const tr = Vexo.el('tr');
    tr.dataset.label = label;
    tr.dataset.events = n;
    tr.append(Vexo.el('td', 'n', Vexo.count(n)), Vexo.el('td', 'n', dropped ? Vexo.count(dropped) : ''), Vexo.el('td', 'label', label));
    points.tBodies[0].append(tr);
  }
  root.append(Vexo.el('h3', null, Vexo.count(s.events) + (s.events === 1 ? ' event' : ' events')));
  if (points.tBodies[0].rows.length) root.append(points);
  if (quiet) root.append(Vexo.el('p', 'note', Vexo.count(quiet) + ' more armed trace points had no events'));
  if (s.calls) {
    const calls = table('calls', ['calls', 'thrown', 'total', 'mean', 'max', 'trace point']);
    let none = 0;
    for (const [label, c] of Object.entries(s.calls)) {
      if (!c.calls) { none++; continue; }
      const tr = Vexo.el('tr');
      tr.dataset.label = label;
      tr.dataset.calls = c.calls;
      tr.append(Vexo.el('td', 'n', Vexo.count(c.calls)), Vexo.el('td', 'n', Vexo.count(c.thrown)),
        Vexo.el('td', 'n', Vexo.duration(c.totalNs)), Vexo.el('td', 'n', Vexo.duration(c.meanNs)),
        Vexo.el('td', 'n', Vexo.duration(c.maxNs)), Vexo.el('td', 'label', label));
      calls.tBodies[0].append(tr);
    }
    root.append(Vexo.el('h3', null, 'Calls of the trace points with exits'), calls);
    if (none) root.append(Vexo.el('p', 'note', Vexo.count(none) + ' more trace points with exits had no calls'));
  }
  const said = [];
  for (const n of s.neverMatched || []) said.push('never matched: ' + n + ' (no class it names was loaded)');
  for (const [k, v] of Object.entries(s.notArmed || {})) said.push('not armed: ' + k + ': ' + v);
  for (const n of s.notes || []) said.push('note: ' + n);
  if (s.armed) said.push('armed: ' + Vexo.count(s.armed.tracePoints) + ' trace points in ' + Vexo.count(s.armed.classes) + ' classes in ' + s.armed.ms + ' ms');
  if (said.length) {
    const ul = Vexo.el('ul', 'said');
    for (const l of said) ul.append(Vexo.el('li', null, l));
    root.append(ul);
  }
};

/** The selected record and its children, below the timeline. */
Vexo.selection = function (m, i, pick) {
  const box = document.getElementById('selection');
  box.replaceChildren();
  if (i < 0) {
    box.append(Vexo.el('p', 'note', 'Click a bar or a mark to see it here with what it called.'));
    return;
  }
  box.append(Vexo.Timeline.card(m, i));
  if (m.parent[i] >= 0) {
    const up = Vexo.el('button', 'link', 'called within ' + m.meta.points[m.point[m.parent[i]]].label);
    up.addEventListener('click', () => pick(m.parent[i]));
    box.append(up);
  }
  if (m.dur[i] < 0) return;
  const { list, total } = Vexo.children(m, i, 200);
  box.append(Vexo.el('h4', null, total ? Vexo.count(total) + (total === 1 ? ' child' : ' children') : 'No traced calls or field accesses within it'));
  const ol = Vexo.el('ol', 'children');
  for (const c of list) {
    const d = Vexo.describe(m, c), li = Vexo.el('li');
    li.dataset.record = c;
    const text = [d.label, d.subject, d.access ? d.access + ' ' + d.value : '', d.args || '', d.outcome || '', d.duration || '']
      .filter(Boolean).join('  ');
    const b = Vexo.el('button', 'link', text);
    b.addEventListener('click', () => pick(c));
    li.append(Vexo.el('span', 'when', Vexo.time(m.start[c])), b);
    ol.append(li);
  }
  box.append(ol);
  if (total > list.length) box.append(Vexo.el('p', 'note', Vexo.count(total - list.length) + ' more children are not listed'));
};

Vexo.start = async function () {
  const meta = JSON.parse(document.getElementById('vexo-meta').textContent);
  const found = { mostRows: 48, mostNodes: 100000 };
  Vexo.header(meta);
  Vexo.summary(meta);
  Vexo.bounds(meta, found);
  const report = { meta, found };
  window.vexoReport = report;
  const m = await Vexo.load();
  Vexo.layout(m, found.mostRows);
  found.notDrawn = m.notDrawn;
  report.model = m;
  const host = document.getElementById('timeline');
  host.replaceChildren();
  if (!m.n) {
    host.append(Vexo.el('p', 'note', 'No events were recorded.'));
    document.getElementById('selection').hidden = true;
  }
  let timeline;
  const pick = i => timeline.select(i, true);
  if (m.n) {
    timeline = new Vexo.Timeline(host, m, i => Vexo.selection(m, i, pick));
    report.timeline = timeline;
    Vexo.selection(m, -1, pick);
  }
  performance.mark('vexo-first-draw');
  report.firstDrawMs = performance.now();
  document.body.dataset.drawn = 'timeline';
  Vexo.bounds(meta, found);
  // The rest after the first view is on screen.
  await new Promise(r => setTimeout(r, 0));
  const tree = Vexo.callTree(m, found.mostNodes);
  found.merged = tree.merged;
  report.tree = new Vexo.TreeView(document.getElementById('tree'), m, tree, pick);
  const fields = Vexo.fieldHistories(m);
  report.fields = new Vexo.FieldsView(document.getElementById('fields'), m, fields, pick, found);
  Vexo.bounds(meta, found);
  document.body.dataset.drawn = 'all';
  report.doneMs = performance.now();
};

Vexo.start().catch(e => {
  const box = document.getElementById('bounds');
  box.append(Vexo.el('p', 'error', 'The page could not show the trace: ' + (e && e.message ? e.message : e)));
  document.body.dataset.drawn = 'failed';
  throw e;
});
