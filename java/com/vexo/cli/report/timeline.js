'use strict';
// The timeline: a lane per thread, its calls as bars by depth (a flame chart) and its instants
// (field accesses, entries without exits) as marks. Wheel or W/S zoom, drag or A/D pan, the arrow
// keys move along time and between threads, 0 shows the whole trace. Whatever starts within one
// pixel column of a row is drawn as one, so a redraw costs the pixels, not the events.

Vexo.Timeline = class {
  constructor(root, m, onSelect) {
    this.m = m;
    this.onSelect = onSelect;
    this.AXIS = 22; this.HEAD = 18; this.ROW = 16; this.GAP = 8;
    this.stats = { draws: 0, lastDrawMs: 0, maxDrawMs: 0, bars: 0, barsCovered: 0, marks: 0, marksCovered: 0 };
    this.selected = -1;
    this.shortNames = m.meta.points.map(p => Vexo.Timeline.shortName(p.label));
    root.classList.add('tl');
    root.tabIndex = 0;
    this.root = root;
    this.canvas = document.createElement('canvas');
    this.labels = document.createElement('div');
    this.labels.className = 'tl-labels';
    this.tip = document.createElement('div');
    this.tip.className = 'tl-tip';
    this.tip.hidden = true;
    root.append(this.canvas, this.labels);
    document.body.append(this.tip);  // over the page: a tip may reach beyond the timeline
    let y = 0;
    for (const lane of m.laneOrder) {
      lane.top = y;
      lane.height = this.HEAD + lane.rows.length * this.ROW + this.GAP;
      y += lane.height;
      const label = document.createElement('div');
      label.className = 'lane-label';
      label.dataset.thread = lane.name;
      const name = document.createElement('b');
      name.textContent = lane.name;
      const counts = document.createElement('span');
      const parts = lane.calls || !(lane.fields || lane.entries) ? [Vexo.count(lane.calls) + (lane.calls === 1 ? ' call' : ' calls')] : [];
      if (lane.fields) parts.push(Vexo.count(lane.fields) + (lane.fields === 1 ? ' field event' : ' field events'));
      if (lane.entries) parts.push(Vexo.count(lane.entries) + (lane.entries === 1 ? ' entry without exit' : ' entries without exits'));
      counts.textContent = parts.join(' · ');
      label.dataset.calls = lane.calls;
      label.dataset.fields = lane.fields;
      label.dataset.entries = lane.entries;
      label.append(name, counts);
      this.labels.append(label);
      lane.label = label;
    }
    this.total = y;
    this.scrollY = 0;
    this.reset();
    this.listen();
    new ResizeObserver(() => this.resize()).observe(root);
    this.resize();
  }

  /** demo.Account.deposit(J)V as Account.deposit; a field as Class.field. */
  static shortName(label) {
    const plain = label.replace(/\(.*$/, '').replace(/\{\d+\}$/, '');
    const parts = plain.split('.');
    return parts.slice(-2).join('.');
  }

  color(point) {
    const hue = (point * 137.508 + 200) % 360;
    return 'hsl(' + hue.toFixed(0) + ' 55% 70%)';
  }

  reset() {
    const m = this.m, span = Math.max(m.last - m.first, 1000), pad = span * 0.01;
    const mid = (m.first + m.last) / 2;
    this.t0 = mid - span / 2 - pad;
    this.t1 = mid + span / 2 + pad;
    this.request();
  }

  resize() {
    const dpr = window.devicePixelRatio || 1;
    this.W = Math.max(200, this.root.clientWidth);
    this.H = Math.max(120, Math.min(this.AXIS + this.total, 560));
    this.canvas.width = Math.round(this.W * dpr);
    this.canvas.height = Math.round(this.H * dpr);
    this.canvas.style.width = this.W + 'px';
    this.canvas.style.height = this.H + 'px';
    this.root.style.height = this.H + 'px';
    this.dpr = dpr;
    this.scrollBy(0);
    this.draw();
  }

  request() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      this.draw();
    });
  }

  /** The first index of the sorted array a at or after `from` whose value is >= v. */
  static lowerBound(a, v, from) {
    let lo = from || 0, hi = a.length;
    while (lo < hi) {
      const mid = (lo + hi) >>> 1;
      if (a[mid] < v) lo = mid + 1; else hi = mid;
    }
    return lo;
  }

  draw() {
    if (!this.W) return;
    const began = performance.now();
    const ctx = this.canvas.getContext('2d');
    ctx.setTransform(this.dpr, 0, 0, this.dpr, 0, 0);
    ctx.fillStyle = '#fff';
    ctx.fillRect(0, 0, this.W, this.H);
    ctx.font = '11px system-ui, sans-serif';
    ctx.textBaseline = 'middle';
    const k = this.W / (this.t1 - this.t0);
    const stats = { bars: 0, barsCovered: 0, marks: 0, marksCovered: 0 };
    for (const lane of this.m.lanes) {
      const top = this.AXIS + lane.top - this.scrollY;
      const visible = top < this.H && top + lane.height > this.AXIS;
      lane.label.style.display = visible ? '' : 'none';
      if (!visible) continue;
      lane.label.style.transform = 'translateY(' + top + 'px)';
      ctx.fillStyle = '#eef1f5';
      ctx.fillRect(0, top, this.W, this.HEAD);
      for (let d = 0; d < lane.rows.length; d++) {
        const y = top + this.HEAD + d * this.ROW;
        if (y > this.H || y + this.ROW < this.AXIS) continue;
        this.drawBars(ctx, lane.rows[d].bars, y, k, stats);
        this.drawMarks(ctx, lane.rows[d].marks, y, k, stats);
      }
    }
    this.drawSelection(ctx, k);
    this.drawAxis(ctx, k);
    const ms = performance.now() - began;
    Object.assign(this.stats, stats);
    this.stats.draws++;
    this.stats.lastDrawMs = ms;
    this.stats.maxDrawMs = Math.max(this.stats.maxDrawMs, ms);
    this.stats.drawnAt = performance.now();
    if (this.inputAt !== undefined) {
      this.stats.lastInputToDrawMs = this.stats.drawnAt - this.inputAt;  // from the wheel or key to the drawn view
      this.inputAt = undefined;
    }
    if (this.afterDraw) this.afterDraw();
  }

  drawBars(ctx, row, y, k, stats) {
    const s = row.s, e = row.e, idx = row.idx, n = idx.length, t0 = this.t0, t1 = this.t1, W = this.W;
    const m = this.m, h = this.ROW - 2;
    let i = Vexo.Timeline.lowerBound(e, t0);
    while (i < n && s[i] <= t1) {
      const xs = (s[i] - t0) * k, xe = (e[i] - t0) * k;
      if (xe - xs >= 1.5) {
        const a = Math.max(xs, -1), b = Math.min(xe, W + 1), w = b - a > 3 ? b - a - 1 : b - a;
        const p = m.point[idx[i]];
        ctx.fillStyle = m.threw[idx[i]] ? '#e03131' : this.color(p);
        ctx.fillRect(a, y, w, h);
        if (w > 40) {
          ctx.save();
          ctx.beginPath();
          ctx.rect(a, y, w - 2, h);
          ctx.clip();
          ctx.fillStyle = '#1b1f24';
          ctx.fillText(this.shortNames[p], Math.max(a, 0) + 3, y + h / 2);
          ctx.restore();
        }
        stats.bars++;
        stats.barsCovered++;
        i++;
        continue;
      }
      // Every bar that starts in this pixel column is drawn as one; the last of them may be wide.
      const px = Math.floor(xs);
      let j = Vexo.Timeline.lowerBound(s, t0 + (px + 1) / k, i + 1);
      if (j - 1 > i && (e[j - 1] - s[j - 1]) * k >= 1.5) j--;
      const right = Math.max(px + 1, Math.min(W, (e[j - 1] - t0) * k));
      ctx.fillStyle = j - i > 1 ? '#7d8794' : this.color(m.point[idx[i]]);
      ctx.fillRect(px, y, right - px, h);
      stats.bars++;
      stats.barsCovered += j - i;
      i = j;
    }
  }

  markColor(i) {
    const kind = this.m.kind[i];
    return kind === Vexo.ASSIGNED ? '#e8590c' : kind === Vexo.READ ? '#1c7ed6' : '#495057';
  }

  drawMarks(ctx, row, y, k, stats) {
    const s = row.s, idx = row.idx, n = idx.length, t0 = this.t0, cy = y + (this.ROW - 2) / 2;
    let i = Vexo.Timeline.lowerBound(s, t0 - 3 / k);
    const last = this.t1 + 3 / k;
    while (i < n && s[i] <= last) {
      const px = Math.floor((s[i] - t0) * k);
      const j = Vexo.Timeline.lowerBound(s, t0 + (px + 1) / k, i + 1);
      ctx.fillStyle = this.markColor(idx[i]);
      ctx.beginPath();
      ctx.moveTo(px + 0.5, cy - 5);
      ctx.lineTo(px + 3.5, cy);
      ctx.lineTo(px + 0.5, cy + 5);
      ctx.lineTo(px - 2.5, cy);
      ctx.closePath();
      ctx.fill();
      stats.marks++;
      stats.marksCovered += j - i;
      i = j;
    }
  }

  /** Where record i is drawn: its lane's row, and x from its start to its end (css pixels in the canvas). */
  geometry(i) {
    const m = this.m, lane = m.lanes[m.thread[i]], d = m.depth[i];
    if (d >= lane.rows.length) return null;
    const k = this.W / (this.t1 - this.t0);
    const y = this.AXIS + lane.top - this.scrollY + this.HEAD + d * this.ROW;
    const x0 = (m.start[i] - this.t0) * k, x1 = (m.end[i] - this.t0) * k;
    return { y, x0, x1, h: this.ROW - 2, bar: m.dur[i] >= 0 };
  }

  drawSelection(ctx, k) {
    if (this.selected < 0) return;
    const g = this.geometry(this.selected);
    if (!g) return;
    ctx.strokeStyle = '#111';
    ctx.lineWidth = 2;
    if (g.bar) ctx.strokeRect(Math.max(-2, g.x0) - 1, g.y - 1, Math.min(this.W + 4, g.x1) - Math.max(-2, g.x0) + 2, g.h + 2);
    else ctx.strokeRect(g.x0 - 5, g.y - 1, 10, g.h + 2);
  }

  drawAxis(ctx, k) {
    const W = this.W;
    ctx.fillStyle = '#fafbfc';
    ctx.fillRect(0, 0, W, this.AXIS);
    ctx.strokeStyle = '#d0d5dc';
    ctx.lineWidth = 1;
    ctx.beginPath();
    ctx.moveTo(0, this.AXIS - 0.5);
    ctx.lineTo(W, this.AXIS - 0.5);
    ctx.stroke();
    // A step of 1, 2 or 5 times a power of ten, some 100 px apart.
    const range = this.t1 - this.t0, rough = range * 100 / W;
    const pow = Math.pow(10, Math.floor(Math.log10(rough)));
    const step = [1, 2, 5, 10].map(f => f * pow).find(v => v >= rough);
    ctx.fillStyle = '#5c6470';
    ctx.textBaseline = 'middle';
    ctx.beginPath();
    for (let t = Math.ceil(this.t0 / step) * step; t <= this.t1; t += step) {
      const x = Math.round((t - this.t0) * k) + 0.5;
      ctx.moveTo(x, this.AXIS - 6);
      ctx.lineTo(x, this.AXIS);
      ctx.fillText(Vexo.Timeline.tick(t, step), x + 3, this.AXIS / 2);
    }
    ctx.stroke();
  }

  /** A tick's time since the trace started: in s from steps of a second, else in ms to the step's digit. */
  static tick(ns, step) {
    if (step >= 1e9) return (ns / 1e9).toFixed(0) + ' s';
    const digits = Math.min(6, Math.max(0, -Math.floor(Math.log10(step / 1e6) + 1e-9)));
    return (ns / 1e6).toFixed(digits) + ' ms';
  }

  /** The record under a point of the canvas: a mark first, then a bar; with how many share its pixel. */
  hit(x, y) {
    const m = this.m, k = this.W / (this.t1 - this.t0), t = this.t0 + x / k;
    if (y < this.AXIS) return null;
    const ly = y - this.AXIS + this.scrollY;
    const lane = m.lanes.find(l => ly >= l.top && ly < l.top + l.height);
    if (!lane) return null;
    const d = Math.floor((ly - lane.top - this.HEAD) / this.ROW);
    if (d < 0 || d >= lane.rows.length) return null;
    const { bars, marks } = lane.rows[d];
    const L = Vexo.Timeline.lowerBound;
    let i = L(marks.s, t - 4 / k);
    if (i < marks.s.length && marks.s[i] <= t + 4 / k) {
      const px = Math.floor((marks.s[i] - this.t0) * k);
      const j = L(marks.s, this.t0 + (px + 1) / k, i);
      return { i: marks.idx[i], within: j - i };
    }
    i = L(bars.e, t - 1 / k);
    if (i < bars.s.length && bars.s[i] <= t + 1 / k) {
      if ((bars.e[i] - bars.s[i]) * k >= 1.5) return { i: bars.idx[i], within: 1 };
      const px = Math.floor((bars.s[i] - this.t0) * k);
      const j = L(bars.s, this.t0 + (px + 1) / k, i);
      return { i: bars.idx[i], within: Math.max(1, j - i) };
    }
    return null;
  }

  showTip(h, x, y) {
    if (!h) {
      this.tip.hidden = true;
      return;
    }
    const tip = this.tip;
    tip.replaceChildren(Vexo.Timeline.card(this.m, h.i));
    if (h.within > 1) {
      const more = document.createElement('div');
      more.className = 'tip-more';
      more.textContent = Vexo.count(h.within) + ' events within this pixel: zoom in to tell them apart';
      tip.append(more);
    }
    tip.hidden = false;
    const r = this.canvas.getBoundingClientRect(), cx = r.left + x, cy = r.top + y;
    const left = Math.min(cx + 14, window.innerWidth - tip.offsetWidth - 4);
    const top = cy + 18 + tip.offsetHeight > window.innerHeight ? Math.max(0, cy - tip.offsetHeight - 10) : cy + 18;
    tip.style.left = Math.max(0, left) + 'px';
    tip.style.top = top + 'px';
  }

  /** A record's description: trace point, subject, arguments, outcome, duration, thread, time. */
  static card(m, i) {
    const d = Vexo.describe(m, i), card = document.createElement('div');
    card.className = 'card';
    const line = (name, text, cls) => {
      const row = document.createElement('div');
      if (cls) row.className = cls;
      if (name) {
        const b = document.createElement('span');
        b.className = 'k';
        b.textContent = name;
        row.append(b);
      }
      row.append(document.createTextNode(text));
      card.append(row);
    };
    line(null, d.label, 'card-title');
    line('subject', d.subject);
    if (d.access) line(d.access, d.value);
    if (d.site) line('site', d.site);
    if (d.args) line('arguments', d.args);
    if (d.outcome) line(m.threw[i] ? 'exception' : 'result', d.outcome.replace(/^-> /, '').replace(/^threw /, ''));
    if (d.duration) line('duration', d.duration);
    line('thread', m.meta.threads[m.thread[i]]);
    line('started', Vexo.time(m.start[i]));
    if (d.note) line(null, d.note, 'note');
    return card;
  }

  select(i, reveal) {
    this.selected = i;
    if (i >= 0 && reveal) this.reveal(i);
    this.request();
    this.onSelect(i);
  }

  /** Brings record i into view: its lane scrolled to, and time zoomed to it when it is off screen or tiny. */
  reveal(i) {
    const m = this.m, lane = m.lanes[m.thread[i]];
    const rowY = lane.top + this.HEAD + m.depth[i] * this.ROW;
    if (rowY < this.scrollY || rowY + this.ROW > this.scrollY + this.H - this.AXIS) this.scrollBy(rowY - this.scrollY - 20);
    const s = m.start[i], e = m.end[i], k = this.W / (this.t1 - this.t0);
    if (s < this.t0 || e > this.t1 || (e - s) * k < 4) {
      const span = Math.max(e - s, 200) * 3;
      this.setView(s - span / 3, s + span * 2 / 3);
    }
  }

  setView(t0, t1) {
    const m = this.m, full = Math.max(m.last - m.first, 1000) * 1.5;
    let range = Math.min(Math.max(t1 - t0, 20), full);
    const mid = (t0 + t1) / 2;
    this.t0 = mid - range / 2;
    this.t1 = mid + range / 2;
    this.request();
  }

  zoomAt(x, factor) {
    const t = this.t0 + (x / this.W) * (this.t1 - this.t0);
    const range = (this.t1 - this.t0) * factor;
    const m = this.m, full = Math.max(m.last - m.first, 1000) * 1.5;
    const r = Math.min(Math.max(range, 20), full);
    this.t0 = t - (x / this.W) * r;
    this.t1 = this.t0 + r;
    this.request();
  }

  pan(px) {
    const dt = px * (this.t1 - this.t0) / this.W;
    this.t0 += dt;
    this.t1 += dt;
    this.request();
  }

  scrollBy(dy) {
    const most = Math.max(0, this.total - (this.H - this.AXIS));
    this.scrollY = Math.min(most, Math.max(0, this.scrollY + dy));
    this.request();
  }

  listen() {
    const c = this.canvas, local = e => {
      const r = c.getBoundingClientRect();
      return [e.clientX - r.left, e.clientY - r.top];
    };
    let drag = null;
    c.addEventListener('wheel', e => {
      e.preventDefault();
      if (this.inputAt === undefined) this.inputAt = e.timeStamp;
      const [x] = local(e);
      if (e.shiftKey) {
        this.scrollBy(e.deltaY);
        return;
      }
      if (e.deltaY) this.zoomAt(x, Math.exp(e.deltaY * 0.002));
      if (e.deltaX) this.pan(e.deltaX);
    }, { passive: false });
    c.addEventListener('mousedown', e => {
      const [x, y] = local(e);
      drag = { x, y, moved: false };
      this.root.focus({ preventScroll: true });
    });
    window.addEventListener('mousemove', e => {
      const [x, y] = local(e);
      if (drag && e.buttons & 1) {
        const dx = x - drag.x, dy = y - drag.y;
        if (Math.abs(dx) + Math.abs(dy) > 3 || drag.moved) {
          drag.moved = true;
          this.pan(-dx);
          this.scrollBy(-dy);
          drag.x = x;
          drag.y = y;
          this.showTip(null);
        }
        return;
      }
      if (e.target !== c) return;
      this.showTip(this.hit(x, y), x, y);
    });
    window.addEventListener('mouseup', e => {
      if (drag && !drag.moved && e.target === c) {
        const [x, y] = local(e), h = this.hit(x, y);
        this.select(h ? h.i : -1, false);
      }
      drag = null;
    });
    c.addEventListener('mouseleave', () => this.showTip(null));
    this.root.addEventListener('keydown', e => {
      const step = this.W * 0.15;
      switch (e.key) {
        case 'w': case 'W': case '+': case '=': this.zoomAt(this.W / 2, 1 / 1.4); break;
        case 's': case 'S': case '-': case '_': this.zoomAt(this.W / 2, 1.4); break;
        case 'a': case 'A': case 'ArrowLeft': this.pan(-step); break;
        case 'd': case 'D': case 'ArrowRight': this.pan(step); break;
        case 'ArrowUp': this.scrollBy(-this.ROW * 3); break;
        case 'ArrowDown': this.scrollBy(this.ROW * 3); break;
        case '0': case 'Home': this.reset(); break;
        case 'Escape': this.select(-1, false); break;
        default: return;
      }
      if (this.inputAt === undefined) this.inputAt = e.timeStamp;
      e.preventDefault();
    });
  }

  /** Where record i is on the page (the centre of its bar or mark), or null when it is not in view. */
  locate(i) {
    const g = this.geometry(i);
    if (!g) return null;
    const r = this.canvas.getBoundingClientRect();
    const x0 = Math.max(0, g.x0), x1 = Math.min(this.W, g.bar ? g.x1 : g.x0);
    const x = g.bar ? (x0 + x1) / 2 : g.x0;
    if (x < 0 || x > this.W || g.y < this.AXIS || g.y > this.H) return null;
    return { x: r.left + x, y: r.top + g.y + g.h / 2 };
  }
};
