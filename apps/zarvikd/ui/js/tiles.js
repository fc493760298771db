// A tile per pump: its state in words and colour, the nozzle shown, the
// delivery's litres and money, the price (and a price held until the nozzle
// is free), and, for a pump whose latest poll failed, that it has no
// connection, why, and how old its values are. Tiles are made once from the
// pump list and updated in place from pump documents.
import { el, $, $$ } from './dom.js';
import { t, lang, number, age } from './i18n.js';

const kActiveKinds = new Set(['authorised', 'nozzleUp', 'delivering']);
// A live pump whose latest good poll is older than this (the service re-read
// every few seconds says so) has old values: its line's worker is held up.
const kStaleMs = 15000;
const pumps = new Map();  // "line/dispenser" -> {pump, at: performance.now() when received}

export const keyOf = (p) => `${p.line}/${p.dispenser}`;
export const pumpOf = (key) => pumps.get(key)?.pump;
export const anyActive = () => [...pumps.values()].some(({ pump }) => pump.live && kActiveKinds.has(pump.state?.kind));

export function pumpTitle(pump) { return pump.name || t('pump', { d: pump.dispenser }); }

function tile(pump, actions) {
  const key = keyOf(pump);
  const button = (name, handler, extra = '') => el('button', {
    type: 'button', class: `act act-${name} ${extra}`, onclick: () => handler(key),
  }, t(name === 'price' ? 'setPrice' : name));
  return el('article', { class: 'tile', dataset: { pump: key } },
    el('header', { class: 'tile-head' },
      el('h2', { class: 'name' }), el('span', { class: 'where' })),
    el('p', { class: 'state' }),
    el('p', { class: 'nozzle' }),
    el('div', { class: 'values' },
      el('span', { class: 'volume' }), el('span', { class: 'money' })),
    el('p', { class: 'price' }),
    el('p', { class: 'pending', hidden: true }),
    el('p', { class: 'fault', role: 'status', hidden: true }),
    el('div', { class: 'actions' },
      button('authorise', actions.authorise), button('stop', actions.stop, 'danger'),
      button('price', actions.price)));
}

export function buildTiles(list, actions) {
  const box = $('#tiles');
  box.replaceChildren(...list.map((pump) => tile(pump, actions)));
  pumps.clear();
  for (const pump of list) show(pump);
}

// A pump document (from the list or an event). Returns false when there is
// no tile for it (the station changed: the caller rebuilds).
export function show(pump) {
  const key = keyOf(pump);
  const node = $(`.tile[data-pump="${key}"]`);
  if (!node) return false;
  pumps.set(key, { pump, at: performance.now() });
  render(node, pump, performance.now());
  return true;
}

function setText(node, selector, text) {
  const target = $(selector, node);
  if (target.textContent !== text) target.textContent = text;
}

function render(node, pump, receivedAt) {
  const kind = pump.state?.kind ?? 'unknown';
  const dead = !pump.live;
  const ageNow = pump.ageMs === null ? null : pump.ageMs + performance.now() - receivedAt;
  const stale = !dead && ageNow !== null && ageNow > kStaleMs;
  node.className = `tile kind-${kind}${dead ? ' dead' : ''}${stale ? ' stale' : ''}`;
  setText(node, '.name', pumpTitle(pump));
  setText(node, '.where', t('lineOf', { l: pump.line }));
  const stateText = pump.state ? (lang() === 'ru' ? pump.state.russian : pump.state.text) : t('unknownState');
  setText(node, '.state', stateText);
  const nozzle = pump.nozzle > 0 ? pump.nozzles[pump.nozzle - 1] : null;
  setText(node, '.nozzle', nozzle
    ? `${t('nozzle', { n: pump.nozzle })}${nozzle.name ? ` · ${nozzle.name}` : ''}` : t('noNozzle'));
  setText(node, '.volume', pump.volume === null ? '—' : `${number(pump.volume, 3)} ${t('litres')}`);
  setText(node, '.money', number(pump.money, 2));
  // The shown nozzle's price; with none lifted, each nozzle's that is known.
  const prices = pump.nozzles.filter((n) => n.price !== null).map((n) => `${n.nozzle}: ${number(n.price, 2)}`);
  const price = nozzle ? number(pump.price ?? nozzle.price, 2) : prices.join(' · ') || '—';
  setText(node, '.price', `${t('price')} ${price}`);
  // Prices held until their nozzle is free, each with its nozzle's number.
  const held = pump.nozzles.filter((n) => n.pendingPrice !== null)
    .map((n) => t('pending', { p: number(n.pendingPrice, 2), n: n.nozzle }));
  if (!held.length && pump.pendingPrice !== null) {
    held.push(t('pending', { p: number(pump.pendingPrice, 2), n: pump.nozzle }));
  }
  $('.pending', node).hidden = !held.length;
  setText(node, '.pending', held.join('; '));
  const fault = $('.fault', node);
  fault.hidden = !dead && !stale;
  const old = ageNow === null ? t('never') : t('stale', { age: age(ageNow) });
  if (dead) setText(node, '.fault', `${t('dead', { cause: pump.fault?.cause ?? '' })} · ${old}`);
  else if (stale) setText(node, '.fault', old);
  $('.act-stop', node).disabled = dead;
  $('.act-authorise', node).disabled = dead;
}

// Every tile again (a language change; the age of dead pumps' values).
export function rerender() {
  for (const node of $$('.tile')) {
    const entry = pumps.get(node.dataset.pump);
    if (entry) render(node, entry.pump, entry.at);
  }
  for (const node of $$('.tile .act')) {
    const name = [...node.classList].find((c) => c.startsWith('act-')).slice(4);
    node.textContent = t(name === 'price' ? 'setPrice' : name);
  }
}

// The tiles whose values' age is shown or may have to be.
export function refreshAges() {
  for (const [key, entry] of pumps) render($(`.tile[data-pump="${key}"]`), entry.pump, entry.at);
}
