// The page's crew parts: the controls' PIN lock, the box's health, and the
// record of who did what (the journal), with its download for a time range.
'use strict';

(() => {
  const el = (id) => document.getElementById(id);

  async function getJson(path) {
    const response = await fetch(path, { cache: 'no-store' });
    return response.json();
  }

  async function postJson(path, body) {
    let response;
    try {
      response = await fetch(path, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(body || {}),
      });
    } catch (e) {
      return { ok: false, error: 'the web server cannot be reached' };
    }
    let answer = null;
    try { answer = await response.json(); } catch (e) { answer = null; }
    return answer || { ok: response.ok, error: 'HTTP ' + response.status };
  }

  // ---- the PIN lock ---------------------------------------------------------

  function say(text, good) {
    const answer = el('lock-answer');
    answer.textContent = text;
    answer.className = 'answer' + (text ? (good ? ' good' : ' bad') : '');
  }

  function showLock(session) {
    el('lock').hidden = !session.pin_set;
    el('lock').classList.toggle('unlocked', session.unlocked);
    el('lock-state').textContent = session.unlocked ? 'unlocked' : 'locked: enter the PIN to use them';
    el('unlock-form').hidden = session.unlocked;
    el('unlocked-actions').hidden = !session.unlocked;
    el('pin-group').hidden = !session.unlocked;
  }

  async function refreshLock() {
    try { showLock(await getJson('/api/session')); } catch (e) { /* the server is away: the page says so */ }
  }

  el('unlock-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    const answer = await postJson('/api/session', { pin: el('pin').value });
    el('pin').value = '';
    say(answer.ok ? 'Controls unlocked' : answer.error, answer.ok);
    refreshLock();
  });

  el('relock').addEventListener('click', async () => {
    await postJson('/api/session/end');
    say('', true);
    refreshLock();
  });

  el('pin-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    const answer = await postJson('/api/pin', { current: el('pin-current').value, pin: el('pin-new').value });
    el('pin-current').value = '';
    el('pin-new').value = '';
    say(answer.ok ? 'PIN changed' : answer.error, answer.ok);
    refreshLock();
  });

  // ---- health ---------------------------------------------------------------

  // An absent value is the board's lack of that sensor, not a zero.
  function show(id, value, text, none) {
    const dd = el(id);
    const absent = value === null || value === undefined;
    dd.textContent = absent ? none || 'absent' : text(value);
    dd.classList.toggle('absent', absent);
  }

  function duration(seconds) {
    if (seconds < 120) return seconds + ' s';
    if (seconds < 7200) return Math.floor(seconds / 60) + ' min';
    return Math.floor(seconds / 3600) + ' h ' + Math.floor(seconds / 60) % 60 + ' min';
  }

  function size(bytes) {
    return bytes >= 1073741824 ? (bytes / 1073741824).toFixed(1) + ' GiB' : (bytes / 1048576).toFixed(1) + ' MiB';
  }

  function showHealth(h) {
    show('h-cpu', h.cpu_celsius, (v) => v.toFixed(1) + ' °C');
    show('h-power', h.under_voltage, (v) => (v ? 'UNDER-VOLTAGE' : 'ok'));
    show('h-throttled', h.throttled, (v) => (v ? 'yes' : h.throttled_occurred ? 'no (earlier: yes)' : 'no'));
    show('h-boot', h.boot_free_bytes, (v) => size(v) + ' of ' + size(h.boot_total_bytes));
    show('h-uptime', h.daemon_uptime_s, (v) => 'daemon ' + duration(v) +
         (h.box_uptime_s === null ? '' : ', box ' + duration(h.box_uptime_s)));
    show('h-first-video', h.first_video_ms, (v) => (v / 1000).toFixed(2) + ' s after start', 'none yet');
    const body = el('h-viewers').tBodies[0];
    body.textContent = '';
    for (const v of h.viewers) {
      const row = body.insertRow();
      row.insertCell().textContent = v.address + ':' + v.port;
      row.insertCell().textContent = v.data_only ? 'data only' : String(v.video_delivered);
      row.insertCell().textContent = v.data_only ? '' : String(v.video_dropped);
    }
    el('h-viewers').hidden = h.viewers.length === 0;
  }

  async function refreshHealth() {
    try {
      const h = await getJson('/api/health');
      if (h.ok === false) throw new Error(h.error);
      showHealth(h);
    } catch (e) {
      for (const id of ['h-cpu', 'h-power', 'h-throttled', 'h-boot', 'h-uptime', 'h-first-video']) {
        el(id).textContent = '–';
      }
    }
  }

  // ---- who did what -----------------------------------------------------------

  async function refreshEvents() {
    let events;
    try { events = await getJson('/api/events'); } catch (e) { return; }
    if (!Array.isArray(events)) return;
    const list = el('events');
    list.textContent = '';
    for (const e of events.slice().reverse()) {
      const item = document.createElement('li');
      const time = document.createElement('time');
      time.dateTime = e.time;
      time.textContent = new Date(e.usec / 1000).toLocaleString();
      item.append(time, e.message || (e.event + ' ' + (e.source || '')));
      list.append(item);
    }
  }

  // The range in whole seconds of the wall clock; the browser's local time as the person typed it.
  function updateDownload() {
    const params = new URLSearchParams();
    const from = Date.parse(el('events-from').value);
    const to = Date.parse(el('events-to').value);
    if (!Number.isNaN(from)) params.set('since', Math.floor(from / 1000));
    if (!Number.isNaN(to)) params.set('until', Math.floor(to / 1000));
    const query = params.toString();
    el('events-download').href = '/api/events.jsonl' + (query ? '?' + query : '');
  }
  el('events-from').addEventListener('change', updateDownload);
  el('events-to').addEventListener('change', updateDownload);

  refreshLock();
  refreshHealth();
  refreshEvents();
  setInterval(refreshLock, 10000);
  setInterval(refreshHealth, 2000);
  setInterval(refreshEvents, 5000);
})();
