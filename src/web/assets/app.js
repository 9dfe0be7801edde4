// zrvweb's pages. Everything from a store (names, reasons, report texts) is
// put in as text, never as markup.
'use strict';

const state = { serial: null, fleet: null, sort: { key: 'name', up: true }, shown: 500, days: 7 };

function el(tag, attrs, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (v === undefined || v === null || v === false) continue;
    if (k === 'class') e.className = v;
    else if (k.startsWith('on')) e.addEventListener(k.slice(2), v);
    else e.setAttribute(k, v === true ? '' : String(v));
  }
  for (const c of children.flat()) {
    if (c === null || c === undefined) continue;
    e.append(c instanceof Node ? c : document.createTextNode(String(c)));
  }
  return e;
}

function pad(n) { return String(n).padStart(2, '0'); }
function localTime(iso) {
  if (!iso) return '';
  const t = new Date(iso);
  if (isNaN(t)) return iso;
  return `${pad(t.getDate())}.${pad(t.getMonth() + 1)}.${t.getFullYear()} ${pad(t.getHours())}:${pad(t.getMinutes())}:${pad(t.getSeconds())}`;
}
function num(v, digits) { return v === null || v === undefined ? '' : Number(v).toFixed(digits); }
function severityWord(s) { return s === 'critical' ? 'критично' : 'внимание'; }

async function getJson(url) {
  const r = await fetch(url, { cache: 'no-store' });
  if (!r.ok) {
    const e = new Error(await r.text());
    e.status = r.status;
    throw e;
  }
  return r.json();
}

function showState(store) {
  const p = document.getElementById('store-state');
  let words = `Хранилище ${store.source}`;
  if (store.readAt) words += `, прочитано в ${localTime(store.readAt)}`;
  if (store.remark) words += `. ${store.remark}`;
  if (store.problem) words = store.problem;
  p.textContent = words;
  p.classList.toggle('problem', !!store.problem);
}

// ---- The fleet ----

const columns = [
  { key: 'name', title: 'Станция', value: s => s.name },
  { key: 'started', title: 'Последний вызов', value: s => s.last ? s.last.started : null, show: v => localTime(v), nowrap: true },
  { key: 'outcome', title: 'Итог', value: s => s.last ? s.last.outcomeText : null,
    show: (v, s) => s.last && s.last.outcome !== 'ok' && s.last.why ? `${v}: ${s.last.why}` : v },
  { key: 'nextDue', title: 'Следующий вызов', value: s => s.nextDue, show: v => localTime(v), nowrap: true },
  { key: 'overdue', title: 'Просрочена', value: s => s.overdue ? 1 : null, show: v => v ? 'да' : '' },
  { key: 'findings', title: 'Замечания', value: s => s.findings.length ? s.findings.filter(f => f.severity === 'critical').length * 1000 + s.findings.length : null,
    show: (v, s) => s.findings.map(f => `${severityWord(f.severity)}: ${f.text}`).join('; ') },
  { key: 'vbat', title: 'Батарея, В', value: s => s.vbat, show: v => num(v, 2), numeric: true },
  { key: 'clock', title: 'Часы, с', value: s => s.clockOffsetS, show: v => num(v, 0), numeric: true },
  { key: 'p1', title: 'P1', value: s => s.p1, show: v => num(v, 3), numeric: true },
  { key: 'p2', title: 'P2', value: s => s.p2, show: v => num(v, 3), numeric: true },
  { key: 'line', title: 'Линия', value: s => s.line || null, nowrap: true },
];

// Empty cells first going up, as the stations window sorts.
function compare(a, b) {
  if (a === null || a === undefined || a === '') return b === null || b === undefined || b === '' ? 0 : -1;
  if (b === null || b === undefined || b === '') return 1;
  if (typeof a === 'number' && typeof b === 'number') return a - b;
  return String(a).localeCompare(String(b), 'ru', { numeric: true });
}

function filtered(stations) {
  const text = (document.getElementById('filter')?.value || '').trim().toLocaleLowerCase('ru');
  const withFindings = document.getElementById('only-findings')?.checked;
  const failing = document.getElementById('only-failing')?.checked;
  return stations.filter(s => {
    if (withFindings && !s.findings.length) return false;
    if (failing && !(s.last && s.last.outcome !== 'ok')) return false;
    if (!text) return true;
    const hay = [s.name, s.line, s.last?.outcomeText, s.last?.why, ...s.findings.map(f => f.text)].join('\n').toLocaleLowerCase('ru');
    return hay.includes(text);
  });
}

function fleetRows() {
  const tbody = document.getElementById('fleet-rows');
  if (!tbody || !state.fleet) return;
  const col = columns.find(c => c.key === state.sort.key) || columns[0];
  const rows = filtered(state.fleet.stations);
  rows.sort((a, b) => (state.sort.up ? 1 : -1) * compare(col.value(a), col.value(b)) || compare(a.name, b.name));
  tbody.replaceChildren(...rows.slice(0, state.shown).map(s => el('tr', {
    class: [s.findings.some(f => f.severity === 'critical') ? 'critical' : '', s.last && s.last.outcome !== 'ok' ? 'failed' : ''].join(' ').trim() || null,
  }, columns.map(c => {
    const v = c.value(s);
    const shown = c.show ? c.show(v, s) : (v ?? '');
    if (c.key === 'name') return el('th', { scope: 'row' }, el('a', { href: '#/station/' + encodeURIComponent(s.name) }, s.name));
    return el('td', { class: c.numeric ? 'num' : c.nowrap ? 'nowrap' : null }, shown);
  }))));
  document.getElementById('fleet-count').textContent = `Показано ${Math.min(rows.length, state.shown)} из ${rows.length} (всего станций ${state.fleet.stations.length})`;
  const more = document.getElementById('fleet-more');
  more.hidden = rows.length <= state.shown;
  for (const th of document.querySelectorAll('#fleet thead th')) {
    th.setAttribute('aria-sort', th.dataset.key === state.sort.key ? (state.sort.up ? 'ascending' : 'descending') : 'none');
  }
}

function fleetPage(page) {
  const head = el('tr', {}, columns.map(c => el('th', { scope: 'col', 'data-key': c.key },
    el('button', { type: 'button', onclick: () => {
      state.sort = { key: c.key, up: state.sort.key === c.key ? !state.sort.up : true };
      fleetRows();
    } }, c.title))));
  page.replaceChildren(
    el('h1', {}, 'Станции'),
    el('div', { class: 'filters' },
      el('label', {}, 'Поиск ', el('input', { id: 'filter', type: 'search', oninput: () => fleetRows() })),
      el('label', {}, el('input', { id: 'only-findings', type: 'checkbox', onchange: () => fleetRows() }), ' Только с замечаниями'),
      el('label', {}, el('input', { id: 'only-failing', type: 'checkbox', onchange: () => fleetRows() }), ' Только неудачный вызов')),
    el('p', { id: 'fleet-count', role: 'status' }),
    el('div', { class: 'scroll' }, el('table', { id: 'fleet' }, el('thead', {}, head), el('tbody', { id: 'fleet-rows' }))),
    el('button', { id: 'fleet-more', type: 'button', hidden: true, onclick: () => { state.shown += 500; fleetRows(); } }, 'Показать ещё'),
    el('h2', {}, 'Сборщики'),
    el('table', { id: 'collectors' }, el('thead', {}, el('tr', {}, ['Сборщик', 'Узел', 'Состояние', 'Последний сигнал'].map(t => el('th', { scope: 'col' }, t)))),
      el('tbody', { id: 'collector-rows' })));
  return refreshFleet();
}

async function refreshFleet() {
  const doc = await getJson('/api/fleet');
  state.fleet = doc;
  fleetRows();
  const tbody = document.getElementById('collector-rows');
  if (tbody) {
    tbody.replaceChildren(...doc.collectors.map(c => el('tr', {}, el('td', {}, c.name), el('td', {}, c.host),
      el('td', {}, c.state), el('td', {}, localTime(c.heartbeat)))));
    if (!doc.collectors.length) tbody.replaceChildren(el('tr', {}, el('td', { colspan: 4 }, 'Сборщики без общего списка станций не отмечаются.')));
  }
}

// ---- What needs a visit ----

function visitValues(v) {
  return Object.entries(v.values || {}).map(([k, x]) => `${k} = ${x === null ? '—' : Number(x).toLocaleString('ru')}`).join(', ');
}

async function visitsPage(page) {
  const doc = await getJson('/api/visits');
  const visits = doc.visits;
  page.replaceChildren(
    el('h1', {}, 'Что требует выезда'),
    el('p', { class: 'noprint' },
      el('button', { type: 'button', onclick: () => window.print() }, 'Печать'), ' ',
      el('a', { href: '/api/visits.csv', download: 'zrv-visits.csv' }, 'CSV')),
    el('p', { class: 'printonly' }, `Прочитано ${localTime(doc.readAt)}; замечаний ${visits.length}`),
    visits.length ? el('table', { id: 'visits' },
      el('thead', {}, el('tr', {}, ['Важность', 'Станция', 'С', 'Замечание', 'Значения', 'Взять и сделать'].map(t => el('th', { scope: 'col' }, t)))),
      el('tbody', {}, visits.map(v => el('tr', { class: v.severity === 'critical' ? 'critical' : null },
        el('td', {}, severityWord(v.severity)),
        el('th', { scope: 'row' }, el('a', { href: '#/station/' + encodeURIComponent(v.station) }, v.station)),
        el('td', {}, localTime(v.since)), el('td', {}, v.text), el('td', {}, visitValues(v)), el('td', {}, v.todo)))))
      : el('p', {}, 'Открытых замечаний нет.'));
}

// ---- A station ----

function isoDate(d) { return `${d.getFullYear()}-${pad(d.getMonth() + 1)}-${pad(d.getDate())}`; }

async function stationPage(page, name) {
  const q = 'name=' + encodeURIComponent(name);
  const doc = await getJson(`/api/station?${q}&days=${state.days}`);
  const days = [7, 30, 90].map(d => el('button', { type: 'button', 'aria-pressed': String(d === state.days),
    onclick: () => { state.days = d; route(); } }, `${d} дней`));
  const chart = series => el('img', { class: 'chart', 'data-series': series,
    src: `/api/chart.svg?${q}&series=${series}&days=${state.days}&v=${state.serial}`,
    alt: { pressure: 'Давления P1 и P2 и пределы отсечки', battery: 'Напряжение батареи', clock: 'Уход часов' }[series] });
  const today = new Date();
  const from = el('input', { type: 'date', id: 'journal-from', value: isoDate(new Date(today - 7 * 86400000)) });
  const to = el('input', { type: 'date', id: 'journal-to', value: isoDate(new Date(+today + 86400000)) });
  const journalRows = el('tbody', { id: 'journal-rows' });
  const journalNote = el('p', { id: 'journal-note', role: 'status' });
  const csv = el('a', { id: 'journal-csv' }, 'CSV');
  const showJournal = async () => {
    const range = `${q}&from=${from.value}&to=${to.value}`;
    csv.href = `/api/journal.csv?${range}`;
    try {
      const j = await getJson(`/api/journal?${range}`);
      journalRows.replaceChildren(...j.records.map(r => el('tr', {}, el('td', {}, r.at.replace('T', ' ')),
        ['p1', 'p2', 't', 'q'].map(k => el('td', { class: 'num' }, num(r[k], 3))), el('td', { class: 'num' }, r.entries ?? ''),
        el('td', { class: 'report' }, r.text))));
      journalNote.textContent = `Записей: ${j.records.length}${j.more ? ' (показаны первые; остальные в CSV или за меньший срок)' : ''}`;
    } catch (e) {
      journalRows.replaceChildren();
      journalNote.textContent = e.message;
    }
  };
  page.replaceChildren(
    el('h1', {}, name),
    el('p', { class: 'noprint' }, el('a', { href: '#/' }, '← все станции')),
    el('div', { class: 'days', role: 'group', 'aria-label': 'Срок' }, days),
    chart('pressure'), chart('battery'), chart('clock'),
    el('h2', {}, 'Отличия уставок от профиля'),
    el('p', { id: 'setpoints' }, !doc.setpointsCompared ? 'С профилем не сравнивались.'
      : doc.differingRegisters.length ? 'Отличаются регистры: ' + doc.differingRegisters.join(', ') : 'Совпадают с профилем.'),
    el('h2', {}, 'Замечания'),
    doc.findings.length ? el('table', { id: 'station-findings' },
      el('thead', {}, el('tr', {}, ['Важность', 'Замечание', 'С', 'Последний раз', 'Снято'].map(t => el('th', { scope: 'col' }, t)))),
      el('tbody', {}, doc.findings.map(f => el('tr', { class: f.cleared ? null : 'open' }, el('td', {}, severityWord(f.severity)),
        el('td', {}, f.text), el('td', {}, localTime(f.since)), el('td', {}, localTime(f.seen)), el('td', {}, f.cleared ? localTime(f.cleared) : 'открыто')))))
      : el('p', {}, 'Замечаний не было.'),
    el('h2', {}, 'Вызовы'),
    el('div', { class: 'scroll' }, el('table', { id: 'calls' },
      el('thead', {}, el('tr', {}, ['Начат', 'Попытка', 'Итог', 'Батарея, В', 'Часы, с', 'P1', 'P2', 'Новых записей', 'Сборщик'].map(t => el('th', { scope: 'col' }, t)))),
      el('tbody', {}, doc.calls.map(c => el('tr', { class: c.outcome !== 'ok' ? 'failed' : null }, el('td', {}, localTime(c.started)), el('td', { class: 'num' }, c.attempt),
        el('td', {}, c.outcome !== 'ok' && c.why ? `${c.outcomeText}: ${c.why}` : c.outcomeText), el('td', { class: 'num' }, num(c.vbat, 2)),
        el('td', { class: 'num' }, num(c.clockOffsetS, 0)), el('td', { class: 'num' }, num(c.p1, 3)), el('td', { class: 'num' }, num(c.p2, 3)),
        el('td', { class: 'num' }, c.recordsRead), el('td', {}, c.collector ?? '')))))),
    el('h2', {}, 'Журнал'),
    el('div', { class: 'filters noprint' }, el('label', {}, 'С ', from), el('label', {}, 'по ', to),
      el('button', { type: 'button', id: 'journal-show', onclick: showJournal }, 'Показать'), csv),
    journalNote,
    el('div', { class: 'scroll' }, el('table', { id: 'journal' },
      el('thead', {}, el('tr', {}, ['Время', 'P1', 'P2', 'T', 'Q', 'Входов', 'Отчёт'].map(t => el('th', { scope: 'col' }, t)))), journalRows)));
  await showJournal();
}

// ---- Pages and live updates ----

let routing = Promise.resolve();
function route() {
  routing = routing.then(async () => {
    const page = document.getElementById('page');
    const hash = location.hash || '#/';
    document.getElementById('nav-fleet').toggleAttribute('aria-current', hash === '#/');
    document.getElementById('nav-visits').toggleAttribute('aria-current', hash === '#/visits');
    try {
      if (hash.startsWith('#/station/')) await stationPage(page, decodeURIComponent(hash.slice(10)));
      else if (hash === '#/visits') await visitsPage(page);
      else if (document.getElementById('fleet')) await refreshFleet();
      else await fleetPage(page);
    } catch (e) {
      page.replaceChildren(el('h1', {}, e.status === 404 ? 'Не найдено' : 'Не прочитано'), el('p', { class: 'problem' }, e.message));
    }
  });
  return routing;
}

// A page follows the store: when a collector has stored a call, it is read
// again, without a reload.
async function watch() {
  try {
    const s = await getJson('/api/state');
    showState(s);
    if (state.serial !== null && s.serial !== state.serial) {
      state.serial = s.serial;
      if (!location.hash.startsWith('#/station/') || !document.activeElement?.matches('input')) await route();
    }
    state.serial = s.serial;
  } catch (e) {
    document.getElementById('store-state').textContent = 'zrvweb не отвечает: показано прочитанное раньше';
  }
  setTimeout(watch, 2000);
}

window.addEventListener('hashchange', () => {
  if (!location.hash.startsWith('#/station/') && location.hash !== '#/visits') document.getElementById('page').replaceChildren();
  route();
});
document.addEventListener('DOMContentLoaded', async () => {
  try {
    const s = await getJson('/api/state');
    state.serial = s.serial;
    showState(s);
  } catch (e) { /* shown by the page */ }
  await route();
  setTimeout(watch, 2000);
});
