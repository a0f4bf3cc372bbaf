// The web console of one qmdriver. Every text that comes from the driver (messages, numbers, replies,
// errors, events) goes into the page as text (textContent), never as markup: a received message is
// written by a stranger.
'use strict';

const STATUS_PERIOD_MS = 5000;
const COUNT_DEBOUNCE_MS = 150;
const TRACK_PERIOD_MS = 1000;
const TABLE_REFRESH_MS = 300;
const EVENTS_KEPT = 200;
const PER_PAGE = 25;

const $ = (id) => document.getElementById(id);

// Columns of each table: heading and how a row's cell reads.
const COLUMNS = {
  inbox: [['Time', (r) => when(r.time)], ['From', (r) => r.from], ['Text', textAndUrl]],
  outbox: [['Time', (r) => when(r.time)], ['To', (r) => r.to], ['Text', textAndUrl], ['Type', (r) => r.type || 'sms']],
  sent: [['Time', (r) => when(r.time)], ['To', (r) => r.to], ['Text', textAndUrl],
    ['Reference', (r) => (r.reference === null || r.reference === undefined ? '–' : String(r.reference))],
    ['Delivered', (r) => deliveredText(r.delivered)]],
  failed: [['Time', (r) => when(r.time)], ['To', (r) => r.to], ['Text', textAndUrl], ['Error', (r) => r.error || '']],
};

const view = { box: 'inbox', page: 1, q: '', total: 0 };
let signedIn = false;
let statusTimer = null;
let events = null;
let tracked = null;  // {id, timer}
let countTimer = null;
let countSeq = 0;
let tableTimer = null;
let tableSeq = 0;

class Unauthorized extends Error {}

// One API call: JSON in and out; a 401 shows the sign-in form.
async function api(method, path, body) {
  const init = { method, credentials: 'same-origin', headers: { Accept: 'application/json' } };
  if (body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  const response = await fetch(path, init);
  let data = {};
  try {
    data = await response.json();
  } catch (e) {
    data = {};
  }
  if (response.status === 401 && path !== '/api/v1/login') {
    showLogin();
    throw new Unauthorized(data.error || 'Not signed in');
  }
  if (!response.ok) throw new Error(data.error || `${response.status} ${response.statusText}`);
  return data;
}

function setText(id, text) {
  $(id).textContent = text === null || text === undefined ? '' : String(text);
}

function when(iso) {
  if (!iso) return '';
  const date = new Date(iso);
  return Number.isNaN(date.getTime()) ? String(iso) : date.toLocaleString();
}

function deliveredText(delivered) {
  if (delivered === true) return 'yes';
  if (delivered === false) return 'no';
  return '–';
}

// A message's text, and a push message's address as plain text beneath it (never a link).
function textAndUrl(row) {
  const cell = document.createElement('div');
  cell.textContent = row.text || '';
  if (row.url) {
    const url = document.createElement('div');
    url.className = 'url';
    url.textContent = row.url;
    cell.append(url);
  }
  return cell;
}

function reportError(id, error) {
  if (error instanceof Unauthorized) return;
  setText(id, error.message || String(error));
}

// --- sign-in -------------------------------------------------------------------------------------

function showLogin() {
  signedIn = false;
  stopLive();
  $('login').hidden = false;
  $('main').hidden = true;
  $('login-token').focus();
}

async function login(event) {
  event.preventDefault();
  setText('login-error', '');
  try {
    await api('POST', '/api/v1/login', { token: $('login-token').value.trim() });
    $('login-token').value = '';
    start();
  } catch (e) {
    setText('login-error', e.message);
  }
}

async function logout() {
  try {
    await api('POST', '/api/v1/logout', {});
  } catch (e) {
    // Signed out either way: the form below asks for the token again.
  }
  showLogin();
}

// --- status --------------------------------------------------------------------------------------

function renderStatus(s) {
  $('link').classList.toggle('up', !!s.connected);
  setText('link-text', `${s.connected ? 'Connected' : 'Not connected'}${s.status_text ? ' – ' + s.status_text : ''}`);
  const port = s.port && s.port !== s.modem ? s.port : '';  // the emulator names both alike
  setText('modem', [s.modem, port].filter(Boolean).join(' on ') || '–');
  const signal = Math.max(0, Math.min(100, Number(s.signal) || 0));
  $('signal').value = signal;
  setText('signal-text', signal ? `${signal}%` : 'unknown');
  setText('outbox', s.outbox);
  setText('errors', s.errors);
  $('connect').disabled = !!s.connected;
  $('disconnect').disabled = !s.connected;
  setText('footer', `qmdriver ${s.version || ''}${s.instance ? ' · instance ' + s.instance : ''}`);
}

async function refreshStatus() {
  try {
    renderStatus(await api('GET', '/api/v1/status'));
  } catch (e) {
    if (!(e instanceof Unauthorized)) setText('link-text', e.message);
  }
}

async function link(action) {
  try {
    await api('POST', `/api/v1/${action}`, {});
    // The status event follows when the link changes; this shows the step in between.
    await refreshStatus();
  } catch (e) {
    reportError('link-text', e);
  }
}

// --- last received message -----------------------------------------------------------------------

function renderLast(row) {
  if (!row) return;
  $('last-empty').hidden = true;
  $('last-message').hidden = false;
  setText('last-from', row.from);
  setText('last-time', when(row.time));
  setText('last-text', row.text);
  setText('last-url', row.url);
  $('last-url-line').hidden = !row.url;
}

async function refreshLast() {
  try {
    const page = await api('GET', '/api/v1/inbox?page=1&per_page=1');
    renderLast(page.items[0]);
  } catch (e) {
    // The tables show the same error.
  }
}

// --- send form and its counter -------------------------------------------------------------------

function scheduleCount() {
  clearTimeout(countTimer);
  countTimer = setTimeout(count, COUNT_DEBOUNCE_MS);
}

async function count() {
  const seq = ++countSeq;
  try {
    const c = await api('POST', '/api/v1/count', { text: $('send-text').value, wap_push_url: $('send-url').value });
    if (seq !== countSeq) return;  // a later keystroke's answer follows
    const encoding = c.encoding === 'ucs2' ? 'UCS2' : 'GSM 7-bit';
    const units = c.encoding === 'ucs2' ? 'units' : 'characters';
    const segments = `${c.segments} segment${c.segments === 1 ? '' : 's'}`;
    setText('counter', `${encoding} · ${c.units} ${units} · ${segments} · ${c.remaining} left (${c.per_segment} each)`);
  } catch (e) {
    if (seq === countSeq) reportError('counter', e);
  }
}

async function send(event) {
  event.preventDefault();
  setText('send-error', '');
  $('send-button').disabled = true;
  const request = {
    to: $('send-to').value.trim(),
    text: $('send-text').value,
    flash: $('send-flash').checked,
    report: $('send-report').checked,
    wap_push_url: $('send-url').value.trim(),
  };
  try {
    const accepted = await api('POST', '/api/v1/messages', request);
    track({ id: accepted.id, state: 'outbox', to: request.to, segments: accepted.segments });
    $('send-text').value = '';
    scheduleCount();
    scheduleTable();
  } catch (e) {
    reportError('send-error', e);
  } finally {
    $('send-button').disabled = false;
  }
}

// Follows the message just sent until it is filed as sent or failed (and its delivery report).
function track(row) {
  if (tracked) clearTimeout(tracked.timer);
  tracked = { id: row.id, timer: null };
  $('tracked').hidden = false;
  setText('tracked-id', `#${row.id}`);
  renderTracked(row);
  pollTracked();
}

function renderTracked(row) {
  if (!tracked || row.id !== tracked.id) return;
  setText('tracked-to', row.to);
  const state = $('tracked-state');
  state.className = `state ${row.state}`;
  state.textContent = row.state;
  const detail = [];
  if (row.segments) detail.push(`${row.segments} segment${row.segments === 1 ? '' : 's'}`);
  if (row.reference !== null && row.reference !== undefined) detail.push(`reference ${row.reference}`);
  if (row.delivered === true) detail.push('delivered');
  if (row.delivered === false) detail.push('not delivered');
  if (row.error) detail.push(row.error);
  setText('tracked-detail', detail.join(' · '));
}

async function pollTracked() {
  if (!tracked) return;
  const id = tracked.id;
  try {
    const row = await api('GET', `/api/v1/messages/${encodeURIComponent(id)}`);
    renderTracked(row);
    if (row.state !== 'outbox') return;
  } catch (e) {
    if (e instanceof Unauthorized) return;
  }
  if (tracked && tracked.id === id) tracked.timer = setTimeout(pollTracked, TRACK_PERIOD_MS);
}

// --- USSD ----------------------------------------------------------------------------------------

async function ussd(event) {
  event.preventDefault();
  setText('ussd-error', '');
  $('ussd-button').disabled = true;
  $('ussd-reply').hidden = true;
  try {
    const reply = await api('POST', '/api/v1/ussd', { code: $('ussd-code').value.trim(), timeout: 30 });
    showUssd(reply.reply);
  } catch (e) {
    reportError('ussd-error', e);
  } finally {
    $('ussd-button').disabled = false;
  }
}

function showUssd(text) {
  setText('ussd-reply', text);
  $('ussd-reply').hidden = false;
}

// --- tables --------------------------------------------------------------------------------------

function scheduleTable() {
  clearTimeout(tableTimer);
  tableTimer = setTimeout(refreshTable, TABLE_REFRESH_MS);
}

function selectBox(box) {
  view.box = box;
  view.page = 1;
  for (const tab of document.querySelectorAll('.tabs [data-box]')) {
    tab.setAttribute('aria-selected', String(tab.dataset.box === box));
  }
  refreshTable();
}

async function refreshTable() {
  const seq = ++tableSeq;
  const query = new URLSearchParams({ page: view.page, per_page: PER_PAGE });
  if (view.q) query.set('q', view.q);
  try {
    const page = await api('GET', `/api/v1/${view.box}?${query}`);
    if (seq !== tableSeq) return;
    setText('rows-error', '');
    renderTable(page);
  } catch (e) {
    if (seq === tableSeq) reportError('rows-error', e);
  }
}

function renderTable(page) {
  const columns = COLUMNS[view.box];
  const head = $('rows-head');
  head.replaceChildren(...columns.map(([title]) => {
    const th = document.createElement('th');
    th.textContent = title;
    return th;
  }));
  $('rows-body').replaceChildren(...page.items.map((row) => {
    const tr = document.createElement('tr');
    for (const [title, cell] of columns) {
      const td = document.createElement('td');
      td.dataset.label = title;
      const value = cell(row);
      if (value instanceof Node) td.append(value);
      else td.textContent = value === null || value === undefined ? '' : String(value);
      tr.append(td);
    }
    return tr;
  }));
  view.total = page.total;
  const pages = Math.max(1, Math.ceil(page.total / page.per_page));
  $('rows-empty').hidden = page.items.length > 0;
  setText('page-text', `Page ${page.page} of ${pages} · ${page.total} message${page.total === 1 ? '' : 's'}`);
  $('page-prev').disabled = page.page <= 1;
  $('page-next').disabled = page.page >= pages;
}

function turnPage(step) {
  view.page = Math.max(1, view.page + step);
  refreshTable();
}

function search(event) {
  if (event) event.preventDefault();
  view.q = $('search').value.trim();
  view.page = 1;
  scheduleTable();
}

// --- live events ---------------------------------------------------------------------------------

function summary(name, d) {
  const message = `#${d.id} ${d.to ? 'to ' + d.to : d.type || ''}`;  // a USSD request has no number
  switch (name) {
    case 'incoming': return `from ${d.from}: ${d.text}${d.url ? ' ' + d.url : ''}`;
    case 'sent': return `${message}: ${d.text}`;
    case 'failed': return `${message}: ${d.error || 'failed'}`;
    case 'delivered': return `${message}: ${d.delivered === false ? 'not delivered' : 'delivered'}`;
    case 'status': return `${d.connected ? 'connected' : 'not connected'} – ${d.status_text}, signal ${d.signal}%`;
    case 'ussd': return d.reply;
    default: return JSON.stringify(d);
  }
}

function addEvent(name, data) {
  const item = document.createElement('li');
  const time = document.createElement('time');
  time.textContent = new Date().toLocaleTimeString();
  const kind = document.createElement('span');
  kind.className = `kind ${name}`;
  kind.textContent = name;
  const text = document.createElement('span');
  text.className = 'text';
  text.textContent = summary(name, data);
  item.append(time, kind, text);
  const list = $('events');
  list.prepend(item);
  while (list.children.length > EVENTS_KEPT) list.lastElementChild.remove();
}

function onEvent(name, raw) {
  let data;
  try {
    data = JSON.parse(raw);
  } catch (e) {
    return;  // a line the page cannot read changes nothing
  }
  addEvent(name, data);
  if (name === 'status') renderStatus(data);
  if (name === 'incoming') renderLast(data);
  if (name === 'ussd') showUssd(data.reply);
  if (name === 'sent' || name === 'failed' || name === 'delivered') renderTracked(data);
  if (name !== 'status' && name !== 'ussd') scheduleTable();
}

function openEvents() {
  if (events) events.close();
  events = new EventSource('/api/v1/events');
  for (const name of ['incoming', 'sent', 'failed', 'delivered', 'status', 'ussd']) {
    events.addEventListener(name, (e) => onEvent(name, e.data));
  }
  events.onopen = () => setText('events-state', 'live');
  events.onerror = () => {
    setText('events-state', 'offline');
    // The browser retries a dropped stream itself; a refused one (signed out, too many) is retried here.
    if (events && events.readyState === EventSource.CLOSED) {
      events = null;
      setTimeout(() => {
        if (signedIn && !events) openEvents();
      }, STATUS_PERIOD_MS);
    }
  };
}

function stopLive() {
  clearInterval(statusTimer);
  statusTimer = null;
  if (events) events.close();
  events = null;
  setText('events-state', 'offline');
}

// --- start ---------------------------------------------------------------------------------------

async function start() {
  try {
    renderStatus(await api('GET', '/api/v1/status'));
  } catch (e) {
    if (!(e instanceof Unauthorized)) setText('link-text', e.message);
    if (e instanceof Unauthorized) return;
  }
  signedIn = true;
  $('login').hidden = true;
  $('main').hidden = false;
  stopLive();
  statusTimer = setInterval(refreshStatus, STATUS_PERIOD_MS);
  openEvents();
  refreshLast();
  refreshTable();
  count();
}

document.addEventListener('DOMContentLoaded', () => {
  $('login-form').addEventListener('submit', login);
  $('logout').addEventListener('click', logout);
  $('connect').addEventListener('click', () => link('connect'));
  $('disconnect').addEventListener('click', () => link('disconnect'));
  $('send-form').addEventListener('submit', send);
  $('send-text').addEventListener('input', scheduleCount);
  $('send-url').addEventListener('input', scheduleCount);
  $('ussd-form').addEventListener('submit', ussd);
  $('search-form').addEventListener('submit', search);
  $('search').addEventListener('input', search);
  $('page-prev').addEventListener('click', () => turnPage(-1));
  $('page-next').addEventListener('click', () => turnPage(1));
  for (const tab of document.querySelectorAll('.tabs [data-box]')) {
    tab.addEventListener('click', () => selectBox(tab.dataset.box));
  }
  start();
});
