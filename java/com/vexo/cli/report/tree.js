'use strict';
// The call tree: the traced methods' calls aggregated by the path that leads to them. A call
// recorded with its stack is placed by its caller chain: the methods of that stack, outermost
// first, are the nodes above it, named "class.method", and a traced method's own calls share its
// node (its overloads too). A call without a stack is placed by its nesting on its thread: its
// caller is the traced call that encloses it. Each node counts its calls, the time of those with
// exits (total) and of that the part not spent in traced calls beneath (self); a node of callers
// alone has no calls and no time of its own. Nodes beyond a bound are counted in "(more call paths)".

Vexo.callTree = function (m, mostNodes) {
  const P = m.meta.points.length, MORE = P, FRAME = -2;
  const node = (point, parent, frame) => ({ point, parent, frame, calls: 0, timed: 0, total: 0, inner: 0, first: -1, children: [] });
  const nodes = [node(-1, -1, -1)];
  const byKey = new Map();
  const nodeOf = new Int32Array(m.n).fill(-1);
  // A traced method's name as a stack's frame names it: the label up to its descriptor.
  const methodOf = m.meta.points.map(p => p.label.replace(/\(.*$/, ''));
  const chainEnd = new Map();  // a caller chain -> the node of its innermost caller
  let merged = 0, chained = 0;
  // The child of `parent` under `key` (a trace point's number under its nesting parent, or a
  // method's name under a caller), made when new, or the parent's "(more call paths)".
  function child(parent, key, point, frame) {
    if (nodes[parent].point === MORE) return parent;
    const keyed = typeof key === 'number' ? parent * (P + 1) + key : parent + ' ' + key;
    let n = byKey.get(keyed);
    if (n !== undefined) return n;
    if (nodes.length >= mostNodes) {
      const more = parent * (P + 1) + MORE;
      n = byKey.get(more);
      if (n === undefined) {
        n = nodes.length;
        nodes.push(node(MORE, parent, -1));
        nodes[parent].children.push(n);
        byKey.set(more, n);
      }
      return n;
    }
    n = nodes.length;
    nodes.push(node(point, parent, frame));
    nodes[parent].children.push(n);
    byKey.set(keyed, n);
    return n;
  }
  for (const lane of m.lanes) {
    for (const i of lane.order) {
      const kind = m.kind[i];
      if (kind === Vexo.READ || kind === Vexo.ASSIGNED) continue;
      let parent, n;
      if (m.chain[i] >= 0) {
        chained++;
        parent = chainEnd.get(m.chain[i]);
        if (parent === undefined) {
          parent = 0;
          for (const f of m.chains[m.chain[i]]) parent = child(parent, m.strings[f], FRAME, f);
          chainEnd.set(m.chain[i], parent);
        }
        n = child(parent, methodOf[m.point[i]], m.point[i], -1);
        if (nodes[n].point === FRAME) nodes[n].point = m.point[i];  // a caller's node gets its calls
        else if (nodes[n].point >= 0 && nodes[n].point < P && nodes[n].point !== m.point[i]) nodes[n].overloads = true;
      } else {
        const caller = m.parent[i];
        parent = caller >= 0 ? nodeOf[caller] : 0;
        n = child(parent, m.point[i], m.point[i], -1);
      }
      if (nodes[n].point === MORE) merged++;
      nodeOf[i] = n;
      const nd = nodes[n];
      nd.calls++;
      if (nd.first < 0) nd.first = i;
      if (m.dur[i] >= 0) {
        nd.timed++;
        nd.total += m.dur[i];
        if (parent > 0 && n !== parent) nodes[parent].inner += m.dur[i];
      }
    }
  }
  // A node of callers alone sorts by the time of the calls beneath it (children come after parents).
  for (let n = nodes.length - 1; n > 0; n--) {
    const nd = nodes[n];
    nd.weight = nd.point === FRAME ? nd.children.reduce((t, c) => t + nodes[c].weight, 0) : nd.total;
  }
  const byTotal = (a, b) => nodes[b].weight - nodes[a].weight || nodes[b].calls - nodes[a].calls;
  for (const nd of nodes) nd.children.sort(byTotal);
  return { nodes, merged, more: MORE, chained, methodOf };
};

Vexo.TreeView = class {
  constructor(root, m, tree, onPick) {
    this.m = m;
    this.tree = tree;
    this.onPick = onPick;
    this.MOST_ROWS = 5000;
    const bar = document.createElement('div');
    bar.className = 'tree-bar';
    const count = document.createElement('span');
    count.className = 'tree-count';
    count.textContent = Vexo.count(tree.nodes.length - 1) + (tree.nodes.length === 2 ? ' node' : ' nodes')
      + (tree.chained ? ', by caller chain where stacks were recorded, else by nesting on each thread' : ', by nesting on each thread');
    const all = document.createElement('button');
    all.textContent = 'expand all';
    all.addEventListener('click', () => this.expandAll());
    const none = document.createElement('button');
    none.textContent = 'collapse all';
    none.addEventListener('click', () => this.collapseAll());
    bar.append(count, all, none);
    const table = document.createElement('table');
    table.className = 'tree';
    table.innerHTML = '<thead><tr><th class="name">call</th><th>calls</th><th>total</th><th>self</th><th>mean</th></tr></thead>';
    this.body = document.createElement('tbody');
    table.append(this.body);
    this.note = document.createElement('p');
    this.note.className = 'note';
    root.append(bar, table, this.note);
    this.rows = new Map();  // node -> its row, for the nodes shown
    const top = tree.nodes[0].children;
    for (const n of top) this.body.append(this.row(n, 0));
    // Opened as far as some 60 rows show.
    let level = top.slice();
    while (level.length && this.rows.size < 60) {
      const next = [];
      for (const n of level) {
        if (this.rows.size + tree.nodes[n].children.length > 60) break;
        this.expand(n);
        next.push(...tree.nodes[n].children);
      }
      level = next;
    }
    if (!top.length) this.note.textContent = 'No method calls were recorded.';
  }

  row(n, depth) {
    const nd = this.tree.nodes[n], m = this.m, tr = document.createElement('tr');
    const label = nd.point === this.tree.more ? '(more call paths)'
      : nd.point < 0 ? m.strings[nd.frame]
      : nd.overloads ? this.tree.methodOf[nd.point] : m.meta.points[nd.point].label;
    tr.dataset.node = n;
    tr.dataset.label = label;
    tr.dataset.calls = nd.calls;
    const name = document.createElement('td');
    name.className = 'name';
    name.style.paddingLeft = (6 + depth * 16) + 'px';
    const toggle = document.createElement('button');
    toggle.className = 'toggle';
    toggle.textContent = nd.children.length ? '▸' : '';
    toggle.disabled = !nd.children.length;
    toggle.addEventListener('click', () => (tr.classList.contains('open') ? this.collapse(n) : this.expand(n)));
    const text = document.createElement('span');
    text.className = 'label';
    text.textContent = label;
    if (nd.first >= 0) {
      text.title = 'show its first call on the timeline';
      text.addEventListener('click', () => this.onPick(nd.first));
    }
    text.style.setProperty('--c', nd.point >= 0 && nd.point < m.meta.points.length ? 'hsl(' + ((nd.point * 137.508 + 200) % 360).toFixed(0) + ' 55% 70%)' : '#999');
    name.append(toggle, text);
    const cell = value => {
      const td = document.createElement('td');
      td.textContent = value;
      return td;
    };
    const timed = nd.timed > 0;
    tr.append(name, cell(nd.point < 0 ? '—' : Vexo.count(nd.calls)), cell(timed ? Vexo.duration(nd.total) : '—'),
      cell(timed ? Vexo.duration(Math.max(0, nd.total - nd.inner)) : '—'),
      cell(timed ? Vexo.duration(nd.total / nd.timed) : '—'));
    if (timed && nd.timed < nd.calls) tr.title = Vexo.count(nd.calls - nd.timed) + ' of these calls have no exit: their time is not known';
    tr.depth = depth;
    this.rows.set(n, tr);
    return tr;
  }

  expand(n) {
    const tr = this.rows.get(n);
    if (!tr || tr.classList.contains('open') || !this.tree.nodes[n].children.length) return;
    tr.classList.add('open');
    tr.querySelector('.toggle').textContent = '▾';
    let after = tr;
    for (const c of this.tree.nodes[n].children) {
      if (this.rows.size >= this.MOST_ROWS) {
        this.note.textContent = 'At most ' + Vexo.count(this.MOST_ROWS) + ' rows are shown at once: collapse some to open others.';
        break;
      }
      const row = this.row(c, tr.depth + 1);
      after.after(row);
      after = row;
    }
  }

  collapse(n) {
    const tr = this.rows.get(n);
    if (!tr) return;
    tr.classList.remove('open');
    tr.querySelector('.toggle').textContent = '▸';
    const drop = c => {
      for (const k of this.tree.nodes[c].children) {
        const row = this.rows.get(k);
        if (!row) continue;
        drop(k);
        row.remove();
        this.rows.delete(k);
      }
    };
    drop(n);
  }

  expandAll() {
    const queue = this.tree.nodes[0].children.slice();
    while (queue.length && this.rows.size < this.MOST_ROWS) {
      const n = queue.shift();
      this.expand(n);
      queue.push(...this.tree.nodes[n].children);
    }
  }

  collapseAll() {
    for (const n of this.tree.nodes[0].children) this.collapse(n);
    this.note.textContent = '';
  }
};
