// The sales journal's panels: the sales waiting for acknowledgement (one
// acknowledged at a time) and the shift report for a period with its CSV.
// When the service has no journal (GET /api/v1/transactions answers 404)
// both say so instead.
import { call, get, ApiError } from './api.js';
import { el, $, toast } from './dom.js';
import { t, number, dateTime, lang } from './i18n.js';
import { shiftRows, csv } from './report.js';

const kEnded = new Set(['finished', 'stopped', 'failed', 'reconciled']);
let station = null;
let lastReport = null;

export function setStation(doc) { station = doc; }

function grade(line, dispenser, nozzle) {
  const l = station?.lines.find((x) => x.line === line);
  const d = l?.dispensers.find((x) => x.number === dispenser);
  return d?.nozzleNames?.[nozzle - 1] ?? null;
}

function missing(box, e) {
  if (e instanceof ApiError && e.status === 404) {
    box.replaceChildren(el('p', { class: 'missing' }, t('journalMissing')));
    return true;
  }
  box.replaceChildren(el('p', { class: 'problem' }, t('error', { message: e.message })));
  return false;
}

function pumpName(sale) {
  const l = station?.lines.find((x) => x.line === sale.line);
  const d = l?.dispensers.find((x) => x.number === sale.dispenser);
  return d?.name || `${sale.line}/${sale.dispenser}`;
}

export async function showSales() {
  const box = $('#sales');
  let doc;
  try {
    doc = await get('/api/v1/transactions?acknowledged=false');
  } catch (e) {
    missing(box, e);
    return;
  }
  const waiting = doc.transactions.filter((s) => kEnded.has(s.state) && !s.acknowledgedAt);
  if (!waiting.length) {
    box.replaceChildren(el('p', { class: 'empty' }, t('noSales')));
    return;
  }
  const head = ['colPump', 'colNozzle', 'colGrade', 'colLitres', 'colMoney', 'colPrice', 'colState', 'colEnded', ''];
  box.replaceChildren(el('table', { class: 'grid' },
    el('thead', {}, el('tr', {}, head.map((key) => el('th', {}, key ? t(key) : '')))),
    el('tbody', {}, waiting.map((s) => el('tr', { dataset: { sale: s.id } },
      el('td', {}, pumpName(s)), el('td', { class: 'num' }, String(s.nozzle)),
      el('td', {}, grade(s.line, s.dispenser, s.nozzle) ?? ''),
      el('td', { class: 'num' }, number(s.litres, 3)), el('td', { class: 'num' }, number(s.money, 2)),
      el('td', { class: 'num' }, number(s.price, 2)),
      el('td', {}, `${t(`sale_${s.state}`)}${s.cause ? ` (${s.cause})` : ''}`),
      el('td', {}, dateTime(s.endedAt)),
      el('td', {}, el('button', { type: 'button', class: 'act act-acknowledge', onclick: () => acknowledge(s.id) },
        t('acknowledge'))))))));
}

async function acknowledge(id) {
  try {
    await call('POST', `/api/v1/transactions/${encodeURIComponent(id)}/acknowledge`);
  } catch (e) {
    toast(t('error', { message: e.message }), 'error');
  }
  await showSales().catch(() => {});
}

// "2026-12-09T08:00:00+03:00" for a datetime-local input's value.
export function isoWithOffset(date) {
  const pad = (n) => String(Math.abs(Math.trunc(n))).padStart(2, '0');
  const offset = -date.getTimezoneOffset();
  return `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())}T${pad(date.getHours())}:` +
    `${pad(date.getMinutes())}:${pad(date.getSeconds())}${offset < 0 ? '-' : '+'}${pad(offset / 60)}:${pad(offset % 60)}`;
}

function localInput(date) { return isoWithOffset(date).slice(0, 16); }

export function initReport() {
  const start = new Date();
  start.setHours(0, 0, 0, 0);
  // Today by default: up to its end, so sales made after the page was opened count.
  const end = new Date(start);
  end.setDate(end.getDate() + 1);
  $('#report-from').value = localInput(start);
  $('#report-to').value = localInput(end);
  $('#report-form').addEventListener('submit', (event) => {
    event.preventDefault();
    makeReport();
  });
  $('#report-csv').addEventListener('click', downloadCsv);
}

const kColumns = ['colLine', 'colPump', 'colNozzle', 'colGrade', 'colSales', 'colMeterStart', 'colMeterEnd',
  'colMeterDiff', 'colSalesLitres', 'colDifference', 'colMoney'];

function cells(row) {
  return [String(row.line), pumpName(row), String(row.nozzle), row.grade, String(row.sales), number(row.meterStart, 3),
    number(row.meterEnd, 3), number(row.meter, 3), number(row.litres, 3),
    row.meter === null ? t('reportNoMeter') : `${number(row.difference, 3)}${row.flagged ? ` ⚠ ${t('reportMismatch')}` : ''}`,
    number(row.money, 2)];
}

// Every sale started in [FROM, TO), a page of kPage at a time (the service
// gives at most that many): the next page starts at the last one's start.
const kPage = 1000;
async function salesStarted(from, to) {
  const byId = new Map();
  let since = from;
  for (;;) {
    const query = `from=${encodeURIComponent(since)}&to=${encodeURIComponent(to)}&limit=${kPage}`;
    const page = (await get(`/api/v1/transactions?${query}`)).transactions;
    const before = byId.size;
    for (const sale of page) byId.set(sale.id, sale);
    if (page.length < kPage || byId.size === before) return [...byId.values()];
    since = page[page.length - 1].startedAt;
  }
}

async function makeReport() {
  const box = $('#report');
  const from = isoWithOffset(new Date($('#report-from').value));
  const to = isoWithOffset(new Date($('#report-to').value));
  let sales;
  try {
    sales = await salesStarted(from, to);
  } catch (e) {
    missing(box, e);
    $('#report-csv').hidden = true;
    return;
  }
  const rows = shiftRows(sales.filter((s) => kEnded.has(s.state)), grade);
  lastReport = { from, to, rows };
  $('#report-csv').hidden = rows.length === 0;
  if (!rows.length) {
    box.replaceChildren(el('p', { class: 'empty' }, t('reportEmpty')));
    return;
  }
  box.replaceChildren(el('table', { class: 'grid' },
    el('thead', {}, el('tr', {}, kColumns.map((key) => el('th', {}, t(key))))),
    el('tbody', {}, rows.map((row) => el('tr', { class: row.flagged ? 'flagged' : '' },
      cells(row).map((text) => el('td', {}, text)))))));
}

// UTF-8 with a byte order mark, so a spreadsheet reads the Cyrillic right.
function downloadCsv() {
  if (!lastReport) return;
  const text = csv(kColumns.map((key) => t(key)), lastReport.rows.map(cells));
  const blob = new Blob(['\uFEFF', text], { type: 'text/csv;charset=utf-8' });
  const link = el('a', { href: URL.createObjectURL(blob), download: `shift-${lastReport.from.slice(0, 10)}-${lang()}.csv` });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}
