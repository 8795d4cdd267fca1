// The report page in headless chromium: for each of RUNS fresh loads, the time from navigation to
// the timeline's first view (the page's mark vexo-first-draw) and to the whole page (call tree,
// field histories); then, on the last load, ZOOMS wheel steps in and as many out at the centre of
// the timeline, each timed from the wheel event to its drawn view, as the page measures it.
//   node bench/report_bench.mjs PAGE [RUNS] [ZOOMS]
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { createRequire } from 'node:module';

const [page, runs = '3', zooms = '15'] = process.argv.slice(2);
const root = path.join(path.dirname(fileURLToPath(import.meta.url)), '..');
const { chromium } = createRequire(path.join(root, 'tests', 'browser', 'package.json'))('playwright-core');
const browser = await chromium.launch({ executablePath: process.env.VEXO_CHROMIUM || '/usr/bin/chromium', args: ['--no-sandbox'] });
const median = a => a.slice().sort((x, y) => x - y)[Math.floor((a.length - 1) / 2)];
const first = [], all = [];
let p;
for (let r = 0; r < +runs; r++) {
  if (p) await p.close();
  p = await browser.newPage({ viewport: { width: 1280, height: 900 } });
  await p.goto('file://' + path.resolve(page));
  await p.waitForFunction(() => document.body.dataset.drawn === 'all', null, { timeout: 120000 });
  const t = await p.evaluate(() => ({ first: performance.getEntriesByName('vexo-first-draw')[0].startTime, all: window.vexoReport.doneMs }));
  first.push(t.first);
  all.push(t.all);
}
const info = await p.evaluate(() => {
  const r = window.vexoReport;
  return { records: r.model.n, events: r.meta.kept, lanes: r.model.lanes.length };
});
const box = await p.locator('#timeline canvas').boundingBox();
await p.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
const steps = [];
for (const dy of [-240, 240]) {
  for (let z = 0; z < +zooms; z++) {
    const before = await p.evaluate(() => window.vexoReport.timeline.stats.draws);
    await p.mouse.wheel(0, dy);
    await p.waitForFunction(n => window.vexoReport.timeline.stats.draws > n, before);
    steps.push(await p.evaluate(() => {
      const s = window.vexoReport.timeline.stats;
      return { input: s.lastInputToDrawMs, draw: s.lastDrawMs, bars: s.bars, marks: s.marks };
    }));
  }
}
await browser.close();
const f = ms => ms.toFixed(0) + ' ms';
console.log(`${info.events} events in ${info.records} records on ${info.lanes} threads`);
console.log(`first view: median ${f(median(first))} of ${runs} loads (${first.map(f).join(', ')}); whole page ${f(median(all))}`);
const input = steps.map(s => s.input), draw = steps.map(s => s.draw);
console.log(`zoom: ${steps.length} wheel steps, wheel to drawn view median ${f(median(input))}, max ${f(Math.max(...input))};` +
  ` drawing alone median ${f(median(draw))}, max ${f(Math.max(...draw))}; at most ${Math.max(...steps.map(s => s.bars))} bars and` +
  ` ${Math.max(...steps.map(s => s.marks))} marks drawn`);
