// The forecourt page: sign in with a token, then the pumps' tiles kept up
// to date from the event stream (and read again while a pump delivers, as
// litres and money climb between state changes), the control dialogs, the
// sales and shift report panels and the line health. A lost connection
// shows a banner until the stream is back, then everything is read again.
import { get, setToken, token, onOffline, ApiError, Offline } from './api.js';
import { $, $$, toast } from './dom.js';
import { t, lang, setLang, onLangChange, applyTexts } from './i18n.js';
import { buildTiles, show, anyActive, rerender, refreshAges } from './tiles.js';
import * as controls from './controls.js';
import { showLines } from './lines.js';
import { showSales, setStation, initReport } from './sales.js';
import { Stream } from './stream.js';

const kActivePollMs = 300;   // while a pump delivers: its litres and money
const kIdlePollMs = 5000;    // otherwise: the age of dead pumps' values
const kPanelPollMs = 2000;   // the open panel (lines)

let stream = null;
let pollTimer = null;
let panelTimer = null;
let reading = false;

const actions = { authorise: controls.authorise, stop: controls.stop, price: controls.setPrice };

async function readPumps() {
  if (reading) return;
  reading = true;
  try {
    const doc = await get('/api/v1/pumps');
    if (!$('#tiles').children.length || !doc.pumps.every((p) => show(p))) buildTiles(doc.pumps, actions);
  } finally {
    reading = false;
  }
}

function schedulePoll() {
  clearTimeout(pollTimer);
  pollTimer = setTimeout(async () => {
    if (stream?.up) await readPumps().catch(() => {});
    refreshAges();
    schedulePoll();
  }, anyActive() ? kActivePollMs : kIdlePollMs);
}

function onEvent(event) {
  if (event.type === 'pump') {
    if (!show(event.pump)) readPumps().catch(() => {});
    schedulePoll();
  } else if (event.type === 'reset') {
    readPumps().catch(() => {});
  } else if (event.type === 'transaction' && currentTab() === 'sales') {
    showSales().catch(() => {});
  }
}

function banner(text) {
  const node = $('#connection');
  node.hidden = text === null;
  node.textContent = text ?? '';
  document.body.classList.toggle('offline', text !== null);
}

let countdown = null;
function lost(cause, pauseMs) {
  clearInterval(countdown);
  let left = Math.ceil(pauseMs / 1000);
  banner(t('connLost', { s: left }));
  countdown = setInterval(() => {
    left -= 1;
    banner(left > 0 ? t('connLost', { s: left }) : t('connRetrying'));
    if (left <= 0) clearInterval(countdown);
  }, 1000);
}

async function connected() {
  clearInterval(countdown);
  try {
    setStation(await get('/api/v1/station'));
    await readPumps();
    banner(null);
    refreshPanel();
    schedulePoll();
  } catch (e) {
    if (e instanceof Offline) return;
    toast(t('error', { message: e.message }), 'error');
  }
}

function currentTab() { return $('.tab[aria-selected="true"]')?.dataset.tab; }

function refreshPanel() {
  clearTimeout(panelTimer);
  const tab = currentTab();
  const job = tab === 'lines' ? showLines() : tab === 'sales' ? showSales() : null;
  if (!job) return;
  job.catch((e) => { if (!(e instanceof Offline)) toast(t('error', { message: e.message }), 'error'); });
  if (tab === 'lines') panelTimer = setTimeout(refreshPanel, kPanelPollMs);
}

function selectTab(name) {
  for (const tab of $$('.tab')) tab.setAttribute('aria-selected', String(tab.dataset.tab === name));
  for (const panel of $$('.panel')) panel.hidden = panel.id !== `panel-${name}`;
  refreshPanel();
}

function startSession() {
  $('#login').hidden = true;
  $('#app').hidden = false;
  stream = new Stream({ onEvent, connected, lost, unauthorised: signOut });
  stream.start();
}

function signOut() {
  stream?.stop();
  clearTimeout(pollTimer);
  clearTimeout(panelTimer);
  setToken('');
  banner(null);
  $('#app').hidden = true;
  $('#login').hidden = false;
  $('#token').focus();
}

async function signIn(event) {
  event.preventDefault();
  const value = $('#token').value.trim();
  const problem = $('#login-problem');
  problem.hidden = true;
  try {
    await get('/api/v1/service', value);
  } catch (e) {
    problem.hidden = false;
    problem.textContent = e instanceof ApiError && e.status === 401 ? t('badToken') : t('noService', { cause: e.message });
    return;
  }
  setToken(value);
  $('#token').value = '';
  startSession();
}

function init() {
  applyTexts();
  onLangChange(() => { rerender(); refreshPanel(); $('#lang').textContent = lang() === 'ru' ? 'EN' : 'RU'; });
  $('#lang').textContent = lang() === 'ru' ? 'EN' : 'RU';
  $('#lang').addEventListener('click', () => setLang(lang() === 'ru' ? 'en' : 'ru'));
  $('#login-form').addEventListener('submit', signIn);
  $('#logout').addEventListener('click', signOut);
  $('#emergency').addEventListener('click', controls.emergencyStop);
  for (const tab of $$('.tab')) tab.addEventListener('click', () => selectTab(tab.dataset.tab));
  controls.onChanged(() => readPumps().catch(() => {}));
  onOffline((e) => stream?.failed(e.message));
  initReport();
  if (token()) startSession();
  else $('#token').focus();
}

init();
