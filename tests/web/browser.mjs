// zrvweb's pages in Debian's chromium, against what the test read from the
// store itself (expect.json). Usage: node browser.mjs URL EXPECT.json OUTDIR
// Prints "READY-FOR-CALL" once the fleet is shown, then waits for a line
// "CALLED STATION" on stdin: that station's new call must show without a
// reload. Exit status 0 when everything held; else the first thing that did not.
import { chromium } from 'playwright-core';
import { readFileSync } from 'node:fs';
import { createInterface } from 'node:readline';

const [url, expectPath, out] = process.argv.slice(2);
const expect = JSON.parse(readFileSync(expectPath, 'utf8'));
const problems = [];
function check(ok, what) {
  if (!ok) {
    problems.push(what);
    throw new Error(what);
  }
}
const lines = createInterface({ input: process.stdin });
const nextLine = () => new Promise(resolve => lines.once('line', resolve));

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--lang=ru-RU'],
});
let status = 0;
try {
  const context = await browser.newContext({ viewport: { width: 1400, height: 900 }, locale: 'ru-RU' });
  const page = await context.newPage();
  // No script of a store's text may run, and the policy must never have to
  // stop one: a dialog or a violation report fails the test.
  const dangers = [];
  page.on('dialog', d => { dangers.push('dialog: ' + d.message()); d.dismiss(); });
  page.on('console', m => { if (/Content Security Policy|Refused to/i.test(m.text())) dangers.push('console: ' + m.text()); });
  await page.addInitScript(() => {
    document.addEventListener('securitypolicyviolation', e => console.error('Refused to: CSP ' + e.violatedDirective));
  });

  // The fleet equals the store: every station, its outcome, its findings.
  await page.goto(url);
  await page.waitForFunction(n => document.querySelectorAll('#fleet-rows tr').length === n, expect.stations.length, { timeout: 20000 });
  const rows = await page.$$eval('#fleet-rows tr', trs => trs.map(tr => ({
    name: tr.querySelector('th').textContent,
    cells: [...tr.querySelectorAll('td')].map(td => td.textContent),
  })));
  const headers = await page.$$eval('#fleet thead th', ths => ths.map(th => th.textContent.replace(/[ ▲▼]+$/, '')));
  const col = t => headers.indexOf(t) - 1;
  for (const s of expect.stations) {
    const row = rows.find(r => r.name === s.name);
    check(row, `станции ${s.name} нет в списке`);
    check(row.cells[col('Итог')].startsWith(s.outcomeText), `${s.name}: итог «${row.cells[col('Итог')]}», в хранилище «${s.outcomeText}»`);
    for (const f of s.findings) check(row.cells[col('Замечания')].includes(f), `${s.name}: нет замечания «${f}»`);
    if (!s.findings.length) check(row.cells[col('Замечания')] === '', `${s.name}: замечания, которых нет в хранилище`);
  }
  check(await page.$$eval('#fleet-rows img', imgs => imgs.length) === 0, 'имя станции стало разметкой');
  await page.screenshot({ path: `${out}/fleet.png`, fullPage: true });

  // The filter and a sort.
  await page.fill('#filter', expect.filter.text);
  const filtered = await page.$$eval('#fleet-rows th', ths => ths.map(th => th.textContent));
  check(JSON.stringify(filtered.sort()) === JSON.stringify([...expect.filter.names].sort()),
    `поиск «${expect.filter.text}»: ${filtered.join(', ')}`);
  await page.fill('#filter', '');
  await page.check('#only-failing');
  const failing = await page.$$eval('#fleet-rows th', ths => ths.map(th => th.textContent));
  check(JSON.stringify(failing.sort()) === JSON.stringify([...expect.failing].sort()), `только неудачные: ${failing.join(', ')}`);
  await page.uncheck('#only-failing');
  await page.check('#only-findings');
  const withFindings = await page.$$eval('#fleet-rows th', ths => ths.map(th => th.textContent));
  check(withFindings.length === expect.stations.filter(s => s.findings.length).length, 'только с замечаниями: не те станции');
  await page.uncheck('#only-findings');
  await page.click('#fleet thead th[data-key=p2] button');
  const byP2 = await page.$$eval('#fleet-rows th', ths => ths.map(th => th.textContent));
  check(JSON.stringify(byP2) === JSON.stringify(expect.byP2), `по P2: ${byP2.join(', ')}`);
  await page.click('#fleet thead th[data-key=p2] button');
  const byP2Down = await page.$$eval('#fleet-rows th', ths => ths.map(th => th.textContent));
  check(JSON.stringify(byP2Down) === JSON.stringify([...expect.byP2].reverse()), `по P2 вниз: ${byP2Down.join(', ')}`);

  // A new call shows without a reload.
  const before = await page.evaluate(() => performance.getEntriesByType('navigation').length);
  const cellOf = name => page.$$eval('#fleet-rows tr', (trs, n) => {
    const tr = trs.find(t => t.querySelector('th').textContent === n);
    return tr ? tr.querySelectorAll('td')[0].textContent : null;
  }, name);
  const shownBefore = await cellOf(expect.live);
  console.log('READY-FOR-CALL');
  const called = await nextLine();
  check(called.startsWith('CALLED'), 'тест не сделал вызова');
  await page.waitForFunction(([n, old]) => {
    const tr = [...document.querySelectorAll('#fleet-rows tr')].find(t => t.querySelector('th').textContent === n);
    return tr && tr.querySelectorAll('td')[0].textContent !== old;
  }, [expect.live, shownBefore], { timeout: 15000 }).catch(() => check(false, 'новый вызов не показан без перезагрузки'));
  check(await page.evaluate(() => performance.getEntriesByType('navigation').length) === before, 'страница перезагружалась');

  // A station: the chart holds the journal's extremes and the limits; the
  // report text stays text.
  await page.goto(`${url}#/station/${encodeURIComponent(expect.chart.station)}`);
  await page.waitForSelector('img.chart[data-series=pressure]');
  const svg = await page.evaluate(async () => {
    const img = document.querySelector('img.chart[data-series=pressure]');
    return (await fetch(img.src)).text();
  });
  const series = {};
  for (const m of svg.matchAll(/<g data-series="([^"]+)" data-min="([^"]+)" data-max="([^"]+)"/g)) series[m[1]] = [Number(m[2]), Number(m[3])];
  const near = (a, b) => Math.abs(a - b) <= 1e-4 * Math.max(1, Math.abs(b));
  for (const [name, [lo, hi]] of Object.entries(expect.chart.series)) {
    check(series[name], `на графике нет ${name}`);
    check(near(series[name][0], lo) && near(series[name][1], hi), `${name}: на графике ${series[name]}, в журнале ${lo}..${hi}`);
  }
  await page.waitForFunction(() => [...document.querySelectorAll('img.chart')].every(i => i.complete && i.naturalWidth > 0));
  await page.fill('#journal-from', expect.report.from);
  await page.fill('#journal-to', expect.report.to);
  await page.click('#journal-show');
  await page.waitForFunction(t => [...document.querySelectorAll('#journal-rows td.report')].some(td => td.textContent === t), expect.report.text, { timeout: 10000 })
    .catch(() => check(false, 'текст отчёта не показан как текст'));
  check(await page.$$eval('#journal-rows script, #journal-rows img', e => e.length) === 0, 'текст отчёта стал разметкой');
  await page.screenshot({ path: `${out}/station.png`, fullPage: true });

  // What needs a visit: critical first, then the oldest; one A4 page.
  await page.goto(`${url}#/visits`);
  await page.waitForSelector('#visits tbody tr');
  const visits = await page.$$eval('#visits tbody tr', trs => trs.map(tr => tr.querySelector('th').textContent + ' / ' + tr.querySelectorAll('td')[2].textContent));
  check(JSON.stringify(visits) === JSON.stringify(expect.visits), `порядок выездов:\n${visits.join('\n')}\nа надо:\n${expect.visits.join('\n')}`);
  await page.screenshot({ path: `${out}/visits.png`, fullPage: true });
  await page.emulateMedia({ media: 'print' });
  await page.screenshot({ path: `${out}/visits-print.png`, fullPage: true });
  const pdf = await page.pdf({ path: `${out}/visits.pdf`, format: 'A4', printBackground: true });
  const pages = (pdf.toString('latin1').match(/\/Type\s*\/Page[^s]/g) || []).length;
  check(pages === 1, `список выездов на ${pages} страницах A4`);

  check(dangers.length === 0, dangers.join('\n'));
  console.log('OK');
} catch (e) {
  console.log('FAILED: ' + (problems[0] || e.message));
  status = 1;
} finally {
  await browser.close();
  lines.close();
}
process.exit(status);
