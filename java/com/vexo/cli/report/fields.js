'use strict';
// Field histories: for each field trace point, each object's (or the static field's) accesses
// in time order. Numbers assigned are drawn as a step chart over the trace's time, a point an
// assignment (reads as ticks beneath); other values are listed. Bounded: the objects with the
// most events first, charts of very many assignments as their outline, lists cut short.

Vexo.fieldHistories = function (m) {
  const byPoint = new Map();
  for (let i = 0; i < m.n; i++) {
    const kind = m.kind[i];
    if (kind !== Vexo.READ && kind !== Vexo.ASSIGNED) continue;
    let bySubject = byPoint.get(m.point[i]);
    if (!bySubject) byPoint.set(m.point[i], bySubject = new Map());
    let list = bySubject.get(m.subject[i]);
    if (!list) bySubject.set(m.subject[i], list = []);
    list.push(i);
  }
  const fields = [];
  for (const [point, bySubject] of byPoint) {
    const objects = [];
    let events = 0, assignments = 0;
    for (const [subject, list] of bySubject) {
      list.sort((a, b) => m.start[a] - m.start[b] || a - b);
      const assigned = list.filter(i => m.kind[i] === Vexo.ASSIGNED);
      events += list.length;
      assignments += assigned.length;
      objects.push({ subject, list, assigned });
    }
    objects.sort((a, b) => b.list.length - a.list.length || a.subject - b.subject);
    fields.push({ point, objects, events, assignments });
  }
  fields.sort((a, b) => b.events - a.events);
  return fields;
};

Vexo.FieldsView = class {
  constructor(root, m, fields, onPick, bounds) {
    this.m = m;
    this.onPick = onPick;
    this.MOST_OBJECTS = 50;
    this.MOST_POINTS = 2000;
    this.MOST_LISTED = 100;
    this.bounds = bounds;
    if (!fields.length) {
      const p = document.createElement('p');
      p.className = 'note';
      p.textContent = 'No field trace point had events.';
      root.append(p);
      return;
    }
    for (const f of fields) root.append(this.field(f));
  }

  field(f) {
    const m = this.m, label = m.meta.points[f.point].label, box = document.createElement('div');
    box.className = 'field';
    box.dataset.label = label;
    const h = document.createElement('h3');
    h.textContent = label;
    const about = document.createElement('p');
    about.className = 'about';
    about.textContent = Vexo.count(f.events) + ' events: ' + Vexo.count(f.assignments) + ' assignments, ' +
      Vexo.count(f.events - f.assignments) + ' reads, on ' + Vexo.count(f.objects.length) +
      (f.objects.length === 1 ? ' object' : ' objects');
    box.append(h, about);
    const shown = f.objects.slice(0, this.MOST_OBJECTS);
    for (const o of shown) box.append(this.object(o));
    if (f.objects.length > shown.length) {
      const more = f.objects.length - shown.length;
      const p = document.createElement('p');
      p.className = 'note';
      p.textContent = Vexo.count(more) + ' more objects with fewer events are not shown';
      box.append(p);
      this.bounds.objects = (this.bounds.objects || 0) + more;
    }
    return box;
  }

  object(o) {
    const m = this.m, row = document.createElement('div');
    row.className = 'field-object';
    row.dataset.subject = m.strings[o.subject];
    row.dataset.assignments = o.assigned.length;
    const head = document.createElement('div');
    head.className = 'object-head';
    const name = document.createElement('b');
    name.textContent = m.strings[o.subject];
    const counts = document.createElement('span');
    counts.textContent = Vexo.count(o.assigned.length) + ' assigned, ' + Vexo.count(o.list.length - o.assigned.length) + ' read';
    head.append(name, counts);
    row.append(head);
    const numeric = o.assigned.length > 0 && o.assigned.every(i => Number.isFinite(Vexo.valueNumber(m, m.value[i])));
    row.append(numeric ? this.chart(o) : this.list(o));
    return row;
  }

  /** A step chart of the values assigned, from the object's first access to its last; reads as ticks beneath. */
  chart(o) {
    const m = this.m, W = 560, H = 96, L = 56, R = 8, T = 8, B = 18;
    const ns = 'http://www.w3.org/2000/svg';
    const svg = document.createElementNS(ns, 'svg');
    svg.setAttribute('class', 'chart');
    svg.setAttribute('viewBox', '0 0 ' + W + ' ' + H);
    svg.setAttribute('width', W);
    svg.setAttribute('height', H);
    const values = o.assigned.map(i => Vexo.valueNumber(m, m.value[i]));
    let loAt = 0, hiAt = 0;
    for (let k = 1; k < values.length; k++) {
      if (values[k] < values[loAt]) loAt = k;
      if (values[k] > values[hiAt]) hiAt = k;
    }
    let lo = values[loAt], hi = values[hiAt];
    if (!(hi - lo > 0)) {
      const pad = Math.max(1, Math.abs(lo) / 10);
      lo -= pad;
      hi += pad;
    }
    const from = m.start[o.list[0]], to = Math.max(m.start[o.list[o.list.length - 1]], from + 1);
    const x = t => L + (t - from) / (to - from) * (W - L - R);
    const y = v => T + (hi - v) / (hi - lo) * (H - T - B);
    const el = (tag, attrs) => {
      const e = document.createElementNS(ns, tag);
      for (const k in attrs) e.setAttribute(k, attrs[k]);
      svg.append(e);
      return e;
    };
    el('line', { x1: L, y1: H - B, x2: W - R, y2: H - B, class: 'axis' });
    el('line', { x1: L, y1: T, x2: L, y2: H - B, class: 'axis' });
    const text = (tx, ty, s, anchor) => { el('text', { x: tx, y: ty, 'text-anchor': anchor || 'end' }).textContent = s; };
    text(L - 4, y(values[hiAt]) + 4, Vexo.valueText(m, m.value[o.assigned[hiAt]]));
    if (hiAt !== loAt) text(L - 4, y(values[loAt]) + 4, Vexo.valueText(m, m.value[o.assigned[loAt]]));
    text(L, H - 4, Vexo.time(from), 'start');
    text(W - R, H - 4, Vexo.time(to), 'end');
    const lastT = m.start[o.list[o.list.length - 1]];
    if (values.length <= this.MOST_POINTS) {
      let d = '';
      for (let k = 0; k < values.length; k++) {
        const px = x(m.start[o.assigned[k]]), py = y(values[k]);
        d += k === 0 ? 'M' + px + ' ' + py : 'H' + px + 'V' + py;
      }
      d += 'H' + x(lastT);
      el('path', { d, class: 'step' });
      for (let k = 0; k < values.length; k++) {
        const i = o.assigned[k];
        const c = el('circle', { cx: x(m.start[i]), cy: y(values[k]), r: 3, class: 'pt' });
        const title = document.createElementNS(ns, 'title');
        title.textContent = Vexo.valueText(m, m.value[i]) + ' at ' + Vexo.time(m.start[i]) + ' on ' + m.meta.threads[m.thread[i]]
          + (m.site[i] >= 0 ? ', by ' + m.strings[m.site[i]] : '');
        c.append(title);
        c.addEventListener('click', () => this.onPick(i));
      }
    } else {
      // Too many points to draw one by one: the lowest and highest value of each pixel column.
      const cols = new Map();
      for (let k = 0; k < values.length; k++) {
        const c = Math.round(x(m.start[o.assigned[k]]));
        const v = cols.get(c);
        if (!v) cols.set(c, [values[k], values[k]]);
        else { v[0] = Math.min(v[0], values[k]); v[1] = Math.max(v[1], values[k]); }
      }
      let d = '';
      for (const [c, [a, b]] of [...cols].sort((p, q) => p[0] - q[0])) d += 'M' + c + ' ' + y(b) + 'V' + (y(a) + 0.5);
      el('path', { d, class: 'envelope' });
      this.bounds.charts = (this.bounds.charts || 0) + 1;
      svg.dataset.outline = values.length;
    }
    let ticks = '', reads = 0;
    for (const i of o.list) {
      if (m.kind[i] !== Vexo.READ || reads++ > this.MOST_POINTS) continue;
      ticks += 'M' + x(m.start[i]).toFixed(1) + ' ' + (H - B) + 'v4';
    }
    if (ticks) el('path', { d: ticks, class: 'reads' });
    return svg;
  }

  /** The assignments (or, without any, the reads) one a line: time, value, thread, and where when recorded. */
  list(o) {
    const m = this.m, table = document.createElement('table');
    table.className = 'values';
    const rows = o.assigned.length ? o.assigned : o.list;
    for (const i of rows.slice(0, this.MOST_LISTED)) {
      const tr = document.createElement('tr');
      for (const s of [Vexo.time(m.start[i]), m.kind[i] === Vexo.ASSIGNED ? 'assigned' : 'read', Vexo.valueText(m, m.value[i]),
        m.meta.threads[m.thread[i]], m.site[i] >= 0 ? 'at ' + m.strings[m.site[i]] : '']) {
        const td = document.createElement('td');
        td.textContent = s;
        tr.append(td);
      }
      tr.addEventListener('click', () => this.onPick(i));
      table.append(tr);
    }
    if (rows.length > this.MOST_LISTED) {
      const tr = document.createElement('tr');
      tr.className = 'more';
      tr.innerHTML = '<td colspan="5"></td>';
      tr.firstChild.textContent = Vexo.count(rows.length - this.MOST_LISTED) + ' more not listed';
      table.append(tr);
      this.bounds.lists = (this.bounds.lists || 0) + 1;
    }
    return table;
  }
};
