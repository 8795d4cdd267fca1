// The trace-events file (--trace-events) in a real viewer: speedscope's own build, from disk, in
// Debian's chromium, loading the file as its command line does. Four threads of a small program
// are traced; speedscope must show a profile for each, named by the thread, and its sandwich
// view must list each of the thread's calls (speedscope keys a call by its name and args).
// A screenshot of each view goes to SHOT_DIR.
//   node speedscope_test.mjs TRACER BUILD_DIR INTEGRATION_SOURCES SHOT_DIR
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { launch, open, run, here, Checks } from './browser.mjs';

const [tracer, build, sources, shots] = process.argv.slice(2);
const java = process.env.JAVA_HOME ? path.join(process.env.JAVA_HOME, 'bin') : '';
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'vexo-speedscope-'));
fs.mkdirSync(shots, { recursive: true });
const classes = path.join(work, 'classes');
run(path.join(java, 'javac'), ['-d', classes, path.join(sources, 'bounded', 'bounded', 'Threads.java')]);
const file = path.join(work, 'threads.trace.json');
run(tracer, ['--method', 'bounded.Threads.*@args,exits', '--field', 'bounded.Threads.sink', '--output', path.join(work, 'out.txt'),
  '--trace-events', file, '--', '-cp', classes, 'bounded.Threads', '3', '20'], { env: { ...process.env, VEXO_BUILD: build } });

// What speedscope should show, from the file: per thread, its calls by speedscope's key.
const trace = JSON.parse(fs.readFileSync(file, 'utf8'));
const names = new Map(trace.traceEvents.filter(e => e.ph === 'M' && e.name === 'thread_name').map(e => [e.tid, e.args.name]));
const calls = new Map();
for (const e of trace.traceEvents) {
  if (e.ph !== 'X') continue;
  const keys = calls.get(names.get(e.tid)) || new Set();
  keys.add(e.name + ' ' + JSON.stringify(e.args));
  calls.set(names.get(e.tid), keys);
}

// speedscope's command line writes a script that hands the file to the page, and opens the page with its path.
const viewer = path.join(here, 'node_modules', 'speedscope', 'dist', 'release');
const loader = path.join(work, 'profile.js');
fs.writeFileSync(loader, `speedscope.loadFileFromBase64(${JSON.stringify(path.basename(file))}, ${JSON.stringify(fs.readFileSync(file).toString('base64'))})`);
const browser = await launch();
const checks = new Checks('speedscope');
const allowed = u => u.startsWith('file://' + viewer + '/') || u === 'file://' + loader;
const { page, problems } = await open(browser, 'file://' + path.join(viewer, 'index.html') + '#localProfilePath=' + loader,
  allowed, { width: 1400, height: 900 });
await page.waitForFunction(() => /\(tid \d+\)/.test(document.body.innerText), null, { timeout: 30000 });
await page.waitForTimeout(300);
await page.screenshot({ path: path.join(shots, 'speedscope-time-order.png') });
await page.keyboard.press('3');  // the sandwich view
const seen = new Map();
for (let i = 0; i < calls.size + 1; i++) {
  await page.waitForTimeout(300);
  const lines = (await page.evaluate(() => document.body.innerText)).split('\n').map(l => l.trim());
  // The toolbar names the profile: "PROGRAM (pid N), THREAD (tid N) (1/4)".
  const named = lines.map(l => /\(pid \d+\), (.*) \(tid \d+\)/.exec(l)).find(Boolean);
  const thread = named ? named[1] : undefined;
  if (thread === undefined || seen.has(thread) || !calls.has(thread)) break;
  seen.set(thread, new Set(lines.filter(l => [...calls.get(thread)].includes(l))));
  await page.screenshot({ path: path.join(shots, 'speedscope-' + thread + '.png') });
  await page.keyboard.press('n');
}
checks.equal([...seen.keys()].sort(), [...calls.keys()].sort(), 'a profile per thread with calls, named by the thread');
for (const [thread, keys] of calls) {
  const listed = seen.get(thread) || new Set();
  checks.equal(listed.size, keys.size, `the calls of ${thread} in the sandwich view`);
}
checks.equal(problems.filter(p => !p.startsWith('console error: [.WebGL')), [], 'nothing went wrong in the viewer');
await browser.close();
fs.rmSync(work, { recursive: true, force: true });
console.log(`${checks.passed} checks passed, ${checks.failed} failed`);
console.log(checks.failed ? `${checks.failed} checks failed` : 'all passed');
process.exit(checks.failed ? 1 : 0);
