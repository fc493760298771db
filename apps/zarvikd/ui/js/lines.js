// The line health panel: per line its health in words and colour, the
// exchange counters, whether the dispensers echo sequence and address, and
// the last fault with its cause and time.
import { get } from './api.js';
import { el, $ } from './dom.js';
import { t, dateTime } from './i18n.js';

export async function showLines() {
  const doc = await get('/api/v1/lines');
  const head = ['colLine', 'colDevice', 'colHealth', 'colGood', 'colBad', 'colTimeouts', 'colEcho', 'colLastFault'];
  const rows = doc.lines.map((line) => el('tr', { class: `health-${line.health}`, dataset: { line: line.line } },
    el('td', {}, String(line.line)),
    el('td', { class: 'wrap' }, line.name ? `${line.name} (${line.device})` : line.device),
    el('td', { class: 'health' }, t(`health_${line.health}`)),
    el('td', { class: 'num' }, String(line.good)),
    el('td', { class: 'num' }, String(line.bad)),
    el('td', { class: 'num' }, String(line.timeouts)),
    el('td', {}, `${t(`echo_${line.sequenceEcho}`)} / ${t(`echo_${line.addressEcho}`)}`),
    el('td', { class: 'wrap' }, line.lastFault ? `${line.lastFault.cause} (${dateTime(line.lastFault.at)})` : '—')));
  $('#lines').replaceChildren(el('table', { class: 'grid' },
    el('thead', {}, el('tr', {}, head.map((key) => el('th', {}, t(key))))), el('tbody', {}, rows)));
}
