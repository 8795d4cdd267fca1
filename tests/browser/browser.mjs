// What the browser tests share: Debian's chromium driven by playwright-core (both installed by
// scripts/install-deps.sh), the tracer run on a program, and a list of failed checks.
// A machine without chromium skips the tests (exit status 77), unless it is CI, which installs it.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';

export const here = path.dirname(fileURLToPath(import.meta.url));
export const SKIP = 77;

export async function launch() {
  const executable = process.env.VEXO_CHROMIUM || '/usr/bin/chromium';
  if (!fs.existsSync(executable)) {
    if (process.env.CI) fail(`${executable} is missing: scripts/install-deps.sh installs Debian's chromium`);
    console.log(`SKIPPED: no chromium at ${executable} (scripts/install-deps.sh installs it)`);
    process.exit(SKIP);
  }
  let playwright;
  try {
    playwright = createRequire(path.join(here, 'package.json'))('playwright-core');
  } catch (e) {
    fail(`playwright-core is not in ${here}/node_modules: run scripts/install-deps.sh (${e.message})`);
  }
  return playwright.chromium.launch({ executablePath: executable, args: ['--no-sandbox', '--allow-file-access-from-files'] });
}

/** A page that keeps what went wrong in it: console errors, uncaught exceptions, requests beyond `allowed`. */
export async function open(browser, url, allowed, viewport = { width: 1280, height: 900 }) {
  const page = await browser.newPage({ viewport });
  const problems = [];
  page.on('console', m => { if (m.type() === 'error') problems.push('console error: ' + m.text()); });
  page.on('pageerror', e => problems.push('uncaught: ' + e.message));
  page.on('request', r => { if (!allowed(r.url())) problems.push('request: ' + r.url()); });
  await page.goto(url);
  return { page, problems };
}

export function fail(message) {
  console.log('FAILED: ' + message);
  process.exit(1);
}

/** Runs a command; its output goes to the test's log, a non-zero status fails the test. */
export function run(command, args, options = {}) {
  console.log('=== ' + [command, ...args].join(' '));
  const r = spawnSync(command, args, { encoding: 'utf8', maxBuffer: 1 << 28, ...options });
  if (r.stdout) console.log(r.stdout.slice(0, 600));
  if (r.stderr) console.log(r.stderr.slice(0, 2000));
  if (r.status !== 0) fail(`${command} exited with ${r.status}`);
  return r;
}

/** The JSON lines of a --json run: its events, in order, and its summary. */
export function jsonLines(file) {
  const events = [];
  let summary = null;
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    if (!line.startsWith('{')) continue;
    const o = JSON.parse(line);
    if (o.summary) summary = o.summary;
    else if (o.tracePoint) events.push(o);
  }
  return { events, summary };
}

/** A JSON value as the text output (and the page) writes it. */
export function valueText(v) {
  if (v === null) return 'null';
  if (typeof v === 'object') return v.class + '@' + v.identityHash;
  if (typeof v === 'string') return v.length === 1 ? null : JSON.stringify(v);  // a char or a String: not told apart
  return String(v);
}

export function subjectText(e) {
  if (e.static) return 'static';
  return e.subjectClass === null ? '(collected)' : e.subjectClass + '@' + e.identityHash;
}

/** EventFormatter.duration: whole ns in a unit, rounded half up (as Java's %.1f rounds them). */
export function duration(ns) {
  const half = (unit, digits) => {
    const q = Math.floor((ns + unit / 2) / unit), scale = 10 ** digits;
    return Math.floor(q / scale) + '.' + String(q % scale).padStart(digits, '0');
  };
  if (ns < 1000) return ns + ' ns';
  if (ns < 999950) return half(100, 1) + ' µs';
  if (ns < 999950000) return half(100000, 1) + ' ms';
  return half(10000000, 2) + ' s';
}

export class Checks {
  constructor(name) {
    this.name = name;
    this.failed = 0;
    this.passed = 0;
  }

  that(ok, message) {
    if (ok) this.passed++;
    else {
      this.failed++;
      console.log(`FAILED (${this.name}): ${message}`);
    }
    return ok;
  }

  equal(got, expected, message) {
    const a = JSON.stringify(got), b = JSON.stringify(expected);
    return this.that(a === b, `${message}: got ${a}, expected ${b}`);
  }
}
