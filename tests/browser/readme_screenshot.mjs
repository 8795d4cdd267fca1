// The README's picture of the demo's report: the timeline zoomed to the demo's transfers, the
// first transfer selected (its children listed) and a hover on the withdrawal of the second.
//   node readme_screenshot.mjs REPORT_HTML PNG
import { launch, open, fail } from './browser.mjs';

const [html, png] = process.argv.slice(2);
const browser = await launch();
const url = 'file://' + html;
const { page, problems } = await open(browser, url, u => u === url, { width: 1200, height: 900 });
await page.waitForFunction(() => document.body.dataset.drawn === 'all');
const found = await page.evaluate(() => {
  const { model: m, timeline: t } = window.vexoReport;
  const label = i => m.meta.points[m.point[i]].label;
  const all = [...Array(m.n).keys()];
  const transfers = all.filter(i => label(i).startsWith('demo.Main.transfer')).sort((a, b) => m.start[a] - m.start[b]);
  const transfer = transfers[0];
  const withdraw = all.find(i => m.parent[i] === transfers[1] && label(i).startsWith('demo.Account.withdraw'));
  // From the last object made to the end of the last call inside main.
  const made = all.filter(i => m.kind[i] === Vexo.ASSIGNED && m.depth[i] === 1).map(i => m.start[i]);
  const from = Math.max(...made), to = Math.max(...all.filter(i => m.depth[i] > 0).map(i => m.end[i]));
  t.setView(from - (to - from) * 0.04, to + (to - from) * 0.04);
  t.draw();
  return { transfer, withdraw, at: t.locate(transfer) };
});
if (found.transfer === undefined || found.withdraw === undefined) fail('the demo has no two transfers with a withdrawal');
await page.mouse.click(found.at.x, found.at.y);
const at = await page.evaluate(i => window.vexoReport.timeline.locate(i), found.withdraw);
await page.mouse.move(at.x, at.y);
await page.waitForSelector('.tl-tip:not([hidden])');
const bottom = await page.evaluate(() => document.getElementById('selection').getBoundingClientRect().bottom);
await page.screenshot({ path: png, clip: { x: 0, y: 0, width: 1200, height: Math.ceil(bottom) + 12 } });
await browser.close();
if (problems.length) fail(problems.join('\n'));
console.log('wrote ' + png);
