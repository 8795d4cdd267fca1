// The report page (--html) in a real browser, against the JSON lines of the same run: the demo,
// four threads of a small program, and H2 under a JDBC loop. For each: the page draws without a
// console error or a request beyond itself; the threads are named with their calls, field events
// and entries; the bars and marks drawn at the first view cover every event; the summary's table
// has the run's counts; the call tree, opened, has one node per call path and every call; a
// hover shows a call's trace point, subject, arguments, result and duration; a click lists the
// call's children; a field's chart has a point per assignment; keys and the wheel zoom and pan.
// Screenshots go to SHOT_DIR.
// Besides, each event of a program that passes values of every kind reads on the page (in a
// hover's card) as its line in the text output of the same run.
//   node report_test.mjs TRACER BUILD_DIR DEMO_JAR INTEGRATION_SOURCES SHOT_DIR [REAL_JAR H2_JAR]
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { launch, open, run, jsonLines, valueText, subjectText, duration, Checks } from './browser.mjs';

const [tracer, build, demoJar, sources, shots, realJar, h2Jar] = process.argv.slice(2);
const java = process.env.JAVA_HOME ? path.join(process.env.JAVA_HOME, 'bin') : '';
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'vexo-report-'));
fs.mkdirSync(shots, { recursive: true });
const env = { ...process.env, VEXO_BUILD: build };

const programs = [
  { name: 'demo', points: ['--method', 'demo.**@args,exits', '--field', 'demo.Account.balance'],
    java: ['-cp', demoJar, 'demo.Main'] },
];
// Four threads: main and three that each call a method that calls another and assigns a field.
const classes = path.join(work, 'classes');
run(path.join(java, 'javac'), ['-d', classes, path.join(sources, 'bounded', 'bounded', 'Threads.java'),
  path.join(sources, 'values', 'vals', 'Values.java')]);
programs.push({ name: 'threads', points: ['--method', 'bounded.Threads.*@args,exits', '--field', 'bounded.Threads.sink'],
  java: ['-cp', classes, 'bounded.Threads', '3', '40'] });
if (realJar && h2Jar && fs.existsSync(h2Jar)) {
  programs.push({ name: 'h2', points: ['--method', 'org.h2.jdbc.JdbcPreparedStatement.execute*@args,exits',
    '--method', 'org.h2.command.Command.execute*@args,exits', '--method', 'org.h2.command.CommandContainer.*@exits',
    '--field', 'org.h2.engine.SessionLocal.startStatement'],
    java: ['-cp', realJar + ':' + h2Jar, 'vexoreal.JdbcLoop', 'jdbc:h2:mem:report', '60'] });
} else {
  console.log('the H2 report is left out: no H2 jar');
}

/** The nesting the page should find, from the JSON lines alone: per event its caller, and the call paths. */
function nesting(events) {
  const byThread = new Map();
  events.forEach((e, k) => {
    const list = byThread.get(e.thread) || [];
    list.push(k);
    byThread.set(e.thread, list);
  });
  const start = k => events[k].timeNs, dur = k => events[k].durationNs ?? -1;
  const caller = new Array(events.length).fill(-1), paths = new Map(), pathOf = [];
  for (const list of byThread.values()) {
    list.sort((a, b) => start(a) - start(b) || dur(b) - dur(a) || a - b);
    const stack = [];
    for (const k of list) {
      while (stack.length && start(stack.at(-1)) + dur(stack.at(-1)) <= start(k)) stack.pop();
      caller[k] = stack.length ? stack.at(-1) : -1;
      if (events[k].kind === 'method') {
        pathOf[k] = (caller[k] >= 0 ? pathOf[caller[k]] : '') + '/' + events[k].tracePoint;
        paths.set(pathOf[k], (paths.get(pathOf[k]) || 0) + 1);
      }
      if (dur(k) >= 0) stack.push(k);
    }
  }
  return { caller, paths };
}

const browser = await launch();
let failed = 0;

// Every kind of value: the page's card of each event against the text line of the same run.
{
  const dir = path.join(work, 'values'), html = path.join(dir, 'report.html');
  fs.mkdirSync(dir);
  const text = run(tracer, ['--args', '--exits', '--threads', '--method', 'vals.Values.*', '--field', 'vals.Values.*',
    '--html', html, '--', '-cp', classes, 'vals.Values'], { env, cwd: dir }).stdout;
  const lines = text.split('\n').filter(l => l.startsWith('vals.'));
  const checks = new Checks('values');
  const url = 'file://' + html;
  const { page, problems } = await open(browser, url, u => u === url);
  await page.waitForFunction(() => document.body.dataset.drawn === 'all', null, { timeout: 30000 });
  // A card's rows as the text line puts them.
  const shown = await page.evaluate(() => {
    const m = window.vexoReport.model, out = [];
    for (let i = 0; i < m.n; i++) {
      const rows = [...Vexo.Timeline.card(m, i).children].map(r => [r.querySelector('.k')?.textContent, r.lastChild.textContent]);
      const get = k => (rows.find(r => r[0] === k) || [])[1];
      let line = rows[0][1] + '  ' + get('subject');
      if (get('assigned') !== undefined) line += '  assigned ' + get('assigned');
      if (get('read') !== undefined) line += '  read     ' + get('read');
      if (get('arguments') !== undefined) line += '  ' + get('arguments');
      if (get('result') !== undefined) line += '  -> ' + get('result');
      if (get('exception') !== undefined) line += '  threw ' + get('exception');
      if (get('duration') !== undefined) line += '  ' + get('duration');
      line += '  [' + get('thread') + ']';
      if (get('site') !== undefined) line += '  at ' + get('site');
      out.push(line);
    }
    return out;
  });
  checks.equal(shown.length, lines.length, 'an event on the page per line');
  shown.forEach((s, i) => checks.equal(s, lines[i], `event ${i}`));
  checks.equal(problems, [], 'nothing went wrong in the page');
  console.log(`values: ${checks.passed} checks passed, ${checks.failed} failed`);
  failed += checks.failed;
  await page.close();
}
// Stacks recorded: the call tree by caller chain, a node per distinct path of the stacks' methods
// (a traced method's calls on the node of its name), against the JSON lines' stacks.
{
  const dir = path.join(work, 'chains'), json = path.join(dir, 'events.json'), html = path.join(dir, 'report.html');
  fs.mkdirSync(dir);
  run(tracer, ['--method', 'demo.Account.*@stack,exits', '--json', '--output', json, '--html', html, '--', '-cp', demoJar, 'demo.Main'],
    { env, cwd: dir });
  const calls = jsonLines(json).events.filter(e => e.kind === 'method');
  const expected = new Map();  // path -> calls placed on it
  for (const e of calls) {
    const names = e.stack.slice(1).reverse().map(f => f.class + '.' + f.method);
    names.push(e.tracePoint.replace(/\(.*$/, ''));
    for (let k = 1; k <= names.length; k++) {
      const p = names.slice(0, k).join(' / ');
      expected.set(p, (expected.get(p) || 0) + (k === names.length ? 1 : 0));
    }
  }
  const checks = new Checks('chains');
  const url = 'file://' + html;
  const { page, problems } = await open(browser, url, u => u === url);
  await page.waitForFunction(() => document.body.dataset.drawn === 'all', null, { timeout: 30000 });
  const shown = await page.evaluate(() => {
    const { model: m, tree: view } = window.vexoReport, t = view.tree, out = {};
    const name = nd => nd.point < 0 ? m.strings[nd.frame] : t.methodOf[nd.point];
    t.nodes.forEach((nd, n) => {
      if (n === 0) return;
      const names = [];
      for (let k = n; k > 0; k = t.nodes[k].parent) names.unshift(name(t.nodes[k]));
      out[names.join(' / ')] = nd.calls;
    });
    return { paths: out, said: document.querySelector('.tree-count').textContent };
  });
  checks.that(calls.length > 0 && calls.every(e => e.stack && e.stack.length) && calls.some(e => e.stack.length > 2),
    'every call has its stack, some with callers');
  checks.equal(Object.entries(shown.paths).sort(), [...expected].sort(), 'a node per caller chain, each call on its own');
  checks.that(shown.said.includes('by caller chain'), `the tree says how it is built: '${shown.said}'`);
  await page.click('.tree-bar button:first-of-type');
  await (await page.$('#tree')).screenshot({ path: path.join(shots, 'chains-tree.png') });
  checks.equal(problems, [], 'nothing went wrong in the page');
  console.log(`chains: ${checks.passed} checks passed, ${checks.failed} failed`);
  failed += checks.failed;
  await page.close();
}
for (const program of programs) {
  const dir = path.join(work, program.name);
  fs.mkdirSync(dir);
  const json = path.join(dir, 'events.json'), html = path.join(dir, 'report.html');
  run(tracer, [...program.points, '--threads', '--times', '--json', '--output', json, '--html', html,
    '--', ...program.java], { env, cwd: dir });
  const { events, summary } = jsonLines(json);
  const expected = nesting(events);
  const checks = new Checks(program.name);
  const url = 'file://' + html;
  const { page, problems } = await open(browser, url, u => u === url);
  await page.waitForFunction(() => ['all', 'failed'].includes(document.body.dataset.drawn), null, { timeout: 30000 });
  checks.equal(await page.evaluate(() => document.body.dataset.drawn), 'all', 'the page finished drawing');

  // The threads, each with its counts.
  const lanes = await page.$$eval('.lane-label', ls => ls.map(l => ({
    name: l.dataset.thread, calls: +l.dataset.calls, fields: +l.dataset.fields, entries: +l.dataset.entries,
    shown: l.innerText })));
  const threads = [...new Set(events.map(e => e.thread))].sort();
  checks.equal(lanes.map(l => l.name).sort(), threads, 'a lane per thread');
  for (const l of lanes) {
    const mine = events.filter(e => e.thread === l.name);
    checks.equal([l.calls, l.fields, l.entries], [mine.filter(e => 'durationNs' in e).length,
      mine.filter(e => e.kind === 'field').length, mine.filter(e => e.kind === 'method' && !('durationNs' in e)).length],
      `thread ${l.name}: calls, field events, entries`);
    const said = [[l.calls, ' call'], [l.fields, ' field event'], [l.entries, ' entr']].filter(([n]) => n > 0);
    checks.that(l.shown.startsWith(l.name) && said.every(([n, what]) => l.shown.includes(n.toLocaleString('en-US') + what)),
      `thread ${l.name} is labelled with its counts: '${l.shown}'`);
  }
  // Everything is drawn at the first view (every lane is in it).
  const first = await page.evaluate(() => {
    const t = window.vexoReport.timeline;
    return { fits: t.total <= t.H - t.AXIS, ...t.stats };
  });
  checks.that(first.fits, 'the lanes fit the first view');
  checks.equal([first.barsCovered, first.marksCovered], [events.filter(e => 'durationNs' in e).length,
    events.filter(e => !('durationNs' in e)).length], 'the first view draws every call and every instant');

  // The summary's table.
  const rows = await page.$$eval('table.points tr[data-label]', rs => rs.map(r => [r.dataset.label, +r.dataset.events]));
  checks.equal(Object.fromEntries(rows), Object.fromEntries(Object.entries(summary.tracePoints).filter(([, n]) => n > 0)),
    'the summary table counts each trace point\'s events');

  // The call tree, all open: a node per call path, every call in it.
  await page.click('.tree-bar button:first-of-type');
  const nodes = await page.$$eval('table.tree tr[data-node]', rs => rs.map(r => [r.dataset.label, +r.dataset.calls]));
  checks.equal(nodes.length, expected.paths.size, 'the call tree\'s nodes');
  const perLabel = list => {
    const out = new Map();
    for (const [label, n] of list) out.set(label, (out.get(label) || 0) + n);
    return [...out].sort();
  };
  checks.equal(perLabel(nodes), perLabel(events.filter(e => e.kind === 'method').map(e => [e.tracePoint, 1])),
    'the call tree\'s calls by trace point');

  // A hover: a call with arguments, a result and a caller.
  const k = events.findIndex((e, i) => e.args && e.args.length && e.args.every(a => valueText(a) !== null) &&
    'durationNs' in e && expected.caller[i] >= 0);
  if (checks.that(k >= 0, 'a call with arguments to hover')) {
    const e = events[k];
    const at = await page.evaluate(k => {
      const t = window.vexoReport.timeline;
      t.reveal(k);
      t.draw();
      return t.locate(k);
    }, k);
    await page.mouse.move(at.x, at.y);
    await page.waitForSelector('.tl-tip:not([hidden])');
    const tip = await page.innerText('.tl-tip');
    const wanted = [e.tracePoint, subjectText(e), '(' + e.args.map(valueText).join(', ') + ')', duration(e.durationNs),
      'thrown' in e ? valueText(e.thrown) : 'return' in e ? valueText(e.return) : 'void'];
    for (const w of wanted) checks.that(tip.includes(w), `the hover shows '${w}': ${JSON.stringify(tip)}`);
    await page.screenshot({ path: path.join(shots, program.name + '-hover.png') });
  }

  // A click on the call with the most children lists them.
  const children = new Map();
  expected.caller.forEach((c, i) => { if (c >= 0) children.set(c, [...(children.get(c) || []), i]); });
  const [parent, kids] = [...children].sort((a, b) => b[1].length - a[1].length)[0] || [-1, []];
  if (checks.that(parent >= 0, 'a call with children') && kids.length <= 200) {
    const at = await page.evaluate(k => {
      const t = window.vexoReport.timeline;
      t.reveal(k);
      t.draw();
      return t.locate(k);
    }, parent);
    // On the bar, away from its children's marks below it.
    await page.mouse.click(at.x, at.y);
    const listed = await page.$$eval('#selection ol.children li', ls => ls.map(l => +l.dataset.record));
    checks.equal(listed, kids, `the children of ${events[parent].tracePoint}`);
  }

  // Field charts: a point per assignment.
  const charts = await page.$$eval('.field-object', os => os.map(o => ({
    label: o.closest('.field').dataset.label, subject: o.dataset.subject,
    points: o.querySelectorAll('svg.chart circle.pt').length, chart: !!o.querySelector('svg.chart'),
    outline: !!o.querySelector('svg.chart[data-outline]') })));
  checks.that(charts.some(c => c.chart), 'a field chart');
  for (const c of charts) {
    const assigned = events.filter(e => e.tracePoint === c.label && e.access === 'assigned' && subjectText(e) === c.subject).length;
    if (c.chart && !c.outline) checks.equal(c.points, assigned, `the chart of ${c.label} on ${c.subject}`);
  }

  // Keys and the wheel zoom and pan, and each redraw is quick.
  const view = () => page.evaluate(() => {
    const t = window.vexoReport.timeline;
    return { t0: t.t0, t1: t.t1, draws: t.stats.draws, ms: t.stats.lastDrawMs };
  });
  await page.keyboard.press('Escape');
  await page.focus('#timeline');
  await page.keyboard.press('0');
  await page.waitForTimeout(50);
  const whole = await view();
  for (let i = 0; i < 3; i++) await page.keyboard.press('w');
  await page.waitForTimeout(50);
  const zoomed = await view();
  checks.that((zoomed.t1 - zoomed.t0) < 0.4 * (whole.t1 - whole.t0) && zoomed.draws > whole.draws, 'W zooms in');
  await page.keyboard.press('d');
  await page.waitForTimeout(50);
  const panned = await view();
  checks.that(panned.t0 > zoomed.t0 && Math.abs((panned.t1 - panned.t0) - (zoomed.t1 - zoomed.t0)) < 1e-6 * (zoomed.t1 - zoomed.t0), 'D pans');
  const box = await page.locator('#timeline canvas').boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + 10);
  await page.mouse.wheel(0, 400);
  await page.waitForTimeout(100);
  const out = await view();
  checks.that(out.t1 - out.t0 > panned.t1 - panned.t0, 'the wheel zooms out');
  checks.that(out.ms < 100, `a redraw takes ${out.ms} ms`);

  await page.keyboard.press('0');
  await page.screenshot({ path: path.join(shots, program.name + '-report.png'), fullPage: true });
  checks.equal(problems, [], 'nothing went wrong in the page');
  console.log(`${program.name}: ${checks.passed} checks passed, ${checks.failed} failed`);
  failed += checks.failed;
  await page.close();
}
await browser.close();
fs.rmSync(work, { recursive: true, force: true });
console.log(failed ? `${failed} checks failed` : 'all passed');
process.exit(failed ? 1 : 0);
