// The control calls behind the tiles' buttons and the emergency stop, each
// in the page's own dialog: authorise a sale with a preset in litres or
// money, stop a pump, set a nozzle's price, stop every pump after a
// confirmation. An error answer stays in the dialog with its message.
import { call } from './api.js';
import { el, $, toast } from './dom.js';
import { t } from './i18n.js';
import { pumpOf, pumpTitle } from './tiles.js';

let afterChange = () => {};
export function onChanged(listener) { afterChange = listener; }

function field(label, input) {
  return el('label', { class: 'field' }, el('span', {}, label), input);
}

function nozzleSelect(pump) {
  return el('select', { name: 'nozzle', class: 'in-nozzle' }, pump.nozzles.map((n) => el('option', {
    value: n.nozzle, selected: n.nozzle === (pump.nozzle || 1),
  }, `${n.nozzle}${n.name ? ` · ${n.name}` : ''}`)));
}

// Shows a modal dialog with TITLE, the fields and a submit button; SUBMIT
// gets the form and returns a promise; its error is shown in the dialog.
function openDialog(title, fields, submitText, submit, danger = false) {
  const dialog = $('#dialog');
  const problem = el('p', { class: 'problem', role: 'alert', hidden: true });
  const cancel = el('button', { type: 'button', class: 'cancel', onclick: () => dialog.close() }, t('cancel'));
  const ok = el('button', { type: 'submit', class: `ok${danger ? ' danger' : ''}` }, submitText);
  const form = el('form', { class: 'dialog-form', novalidate: true },
    el('h2', {}, title), ...fields, problem, el('div', { class: 'dialog-buttons' }, cancel, ok));
  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    ok.disabled = true;
    try {
      await submit(form);
      dialog.close();
      afterChange();
    } catch (e) {
      problem.hidden = false;
      problem.textContent = t('error', { message: e.message });
    } finally {
      ok.disabled = false;
    }
  });
  dialog.replaceChildren(form);
  dialog.showModal();
  (form.querySelector('input, select') ?? ok).focus();
}

function decimal(form, name) {
  const text = form.elements[name].value.trim().replace(',', '.');
  const value = Number(text);
  if (!text || !Number.isFinite(value) || value <= 0) {
    throw new Error(t('enterValue', { f: form.elements[name].dataset.label }));
  }
  return value;
}

function numberInput(name, label) {
  return el('input', { name, class: `in-${name}`, inputmode: 'decimal', autocomplete: 'off', dataset: { label } });
}

// The price input follows the chosen nozzle's price, when one was set.
function priceFollowsNozzle(pump, select, input) {
  const fill = () => {
    const price = pump.nozzles[Number(select.value) - 1]?.price;
    input.value = price ? String(price) : '';
  };
  select.addEventListener('change', fill);
  fill();
}

export function authorise(key) {
  const pump = pumpOf(key);
  const nozzles = nozzleSelect(pump);
  const price = numberInput('price', t('price'));
  priceFollowsNozzle(pump, nozzles, price);
  const mode = el('div', { class: 'radio' },
    el('label', {}, el('input', { type: 'radio', name: 'mode', value: 'litres', checked: true }), t('byLitres')),
    el('label', {}, el('input', { type: 'radio', name: 'mode', value: 'money' }), t('byMoney')));
  openDialog(t('authoriseTitle', { d: pumpTitle(pump) }), [
    field(t('colNozzle'), nozzles),
    field(t('preset'), mode),
    field(t('amount'), numberInput('amount', t('amount'))),
    field(t('price'), price),
  ], t('send'), async (form) => {
    const body = { nozzle: Number(form.elements.nozzle.value), price: decimal(form, 'price') };
    body[form.elements.mode.value] = decimal(form, 'amount');
    await call('POST', `/api/v1/pumps/${key}/authorise`, body);
    toast(t('authorised', { d: pumpTitle(pump) }));
  });
}

export function setPrice(key) {
  const pump = pumpOf(key);
  openDialog(t('priceTitle', { d: pumpTitle(pump) }), [
    field(t('colNozzle'), nozzleSelect(pump)),
    field(t('price'), numberInput('price', t('price'))),
  ], t('apply'), async (form) => {
    const nozzle = Number(form.elements.nozzle.value);
    const answer = await call('PUT', `/api/v1/pumps/${key}/nozzles/${nozzle}/price`, { price: decimal(form, 'price') });
    toast(answer.status === 202 ? t('pricePending') : t('priceApplied'));
  });
}

function results(stopped) {
  return stopped.map((s) => `${s.line}/${s.dispenser}/${s.nozzle}: ${t(`result_${s.result}`)}${
    s.cause ? ` (${s.cause})` : ''}`).join('; ');
}

export async function stop(key) {
  const pump = pumpOf(key);
  try {
    const answer = await call('POST', `/api/v1/pumps/${key}/stop`, {});
    const list = answer.body.stopped;
    toast(`${t('stopDone', { d: pumpTitle(pump) })}${list.length ? `: ${results(list)}` : ''}`,
      answer.body.complete ? 'info' : 'error');
    afterChange();
  } catch (e) {
    toast(t('error', { message: e.message }), 'error');
  }
}

export function emergencyStop() {
  openDialog(t('emergency'), [el('p', { class: 'ask' }, t('emergencyAsk'))], t('emergencyYes'), async () => {
    const answer = await call('POST', '/api/v1/emergency-stop');
    const list = answer.body.stopped;
    const text = list.length ? `${t('emergencyDone', { n: list.length })}: ${results(list)}` : t('emergencyNone');
    toast(text, answer.body.complete ? 'info' : 'error');
    $('#emergency-result').textContent = text;
  }, true);
}

