// The box's page: live state from /events, commands posted to /api/command as
// the JSON commands the box knows, settings read from the box's report, and
// the live picture over WebRTC, signalled through /api/stream/.
'use strict';

const $ = (id) => document.getElementById(id);

// ---- commands -------------------------------------------------------------

let toastTimer = 0;
function toast(text, kind) {
  const t = $('toast');
  t.textContent = text;
  t.className = 'toast' + (kind ? ' ' + kind : '');
  t.hidden = false;
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => { t.hidden = true; }, kind === 'bad' ? 6000 : 2500);
}

// Posts a JSON body to one of the server's routes; resolves to its answer
// ({ok, error, ...}) with the HTTP status.
async function postTo(path, body, keepalive) {
  let response;
  try {
    response = await fetch(path, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(body),
      keepalive: Boolean(keepalive),
    });
  } catch (e) {
    return { ok: false, error: 'the web server cannot be reached' };
  }
  let answer = null;
  try { answer = await response.json(); } catch (e) { answer = null; }
  if (!answer) answer = { ok: response.ok, error: 'HTTP ' + response.status };
  answer.status = response.status;
  return answer;
}

// Posts one command; resolves to the server's answer ({ok, error, report}).
function post(command) { return postTo('/api/command', command); }

// A button press: the command, a busy button meanwhile, and a word on the outcome.
async function press(button, command, label) {
  if (button) button.setAttribute('aria-busy', 'true');
  const answer = await post(command);
  if (button) button.removeAttribute('aria-busy');
  if (answer.ok) toast(label + ': the box took it', 'good');
  else toast(label + ': ' + answer.error, 'bad');
  return answer;
}

function cameraCommand(cmd, param, value1, value2) {
  const c = { cmd: cmd };
  if (param !== undefined) c.param = param;
  if (value1 !== undefined) c.value1 = value1;
  if (value2 !== undefined) c.value2 = value2;
  return c;
}

// ---- live state -----------------------------------------------------------

let state = null;

function setText(id, text, cls) {
  const el = $(id);
  el.textContent = text;
  if (cls !== undefined) el.className = cls;
}

function degrees(v) {
  return v === null || v === undefined ? '–' : v.toFixed(1) + '°';
}

// "1/100 s" or "3.2 s" from the camera's 24-bit shutter code.
function shutterText(code) {
  if (!code) return '';
  const whole = code & 0x7fff;
  const fraction = (code >> 16) & 0xff;
  const number = fraction ? whole + '.' + fraction : String(whole);
  return (code & 0x8000 ? '1/' + number : number) + ' s';
}

function showState(s) {
  state = s;
  if (s.stream) {
    setText('stream-state', s.stream.running
      ? 'Live video · ' + s.stream.browsers + (s.stream.browsers === 1 ? ' browser watching' : ' browsers watching')
      : 'The live video is not running', s.stream.running ? 'ok' : 'off');
  }
  const answering = s.box.answering;
  const live = answering && s.box.record;
  const pill = $('connection');
  pill.textContent = live ? 'Live' : answering ? 'Starting' : 'Box not answering';
  pill.className = 'pill ' + (live ? 'pill-live' : answering ? 'pill-wait' : 'pill-down');
  const banner = $('banner');
  banner.hidden = answering;
  banner.textContent = s.box.record
    ? 'The box is not answering: the values below may be old.'
    : 'The box is not running.';
  document.body.classList.toggle('stale', !live);
  if (!('attitude' in s)) return;

  const recording = s.camera.recording;
  document.body.classList.toggle('recording-on', recording);
  setText('rec-text', recording ? 'Recording' : 'Not recording');
  const rec = $('record');
  rec.textContent = recording ? 'Stop recording' : 'Record';
  rec.classList.toggle('recording', recording);

  setText('pan', degrees(s.attitude.pan));
  setText('tilt', degrees(s.attitude.tilt));
  setText('dutch', degrees(s.attitude.dutch));
  setText('lock-note', s.attitude.locked ? 'Orientation locked' : '');

  setText('camera-link', s.link.camera ? 'Connected' : 'Not connected', s.link.camera ? 'ok' : 'bad');
  setText('video-link', s.link.video ? 'Streaming' : 'No video', s.link.video ? 'ok' : 'off');
  setText('viewers', String(s.viewers));
  const mode = s.camera.reported ? (s.camera.mode === 'photo' ? 'Photo' : s.camera.mode === 'video' ? 'Video' : '–') : '–';
  setText('work-mode', mode);
  $('mode-photo').setAttribute('aria-pressed', String(s.camera.reported && s.camera.mode === 'photo'));
  $('mode-video').setAttribute('aria-pressed', String(s.camera.reported && s.camera.mode === 'video'));
  const rcOn = report ? report.rcin_en === 1 : null;
  setText('rc', rcOn === false ? 'Off' : s.rc.suspended ? 'Suspended' : 'Status ' + s.rc.status, rcOn === false ? 'off' : '');
  setText('shield', s.shield_closed ? 'Closed' : 'Open');
  setText('media', s.media || '–');

  if (s.camera.reported) {
    const shutter = shutterText(s.exposure.shutter_code);
    setText('shutter-now', shutter ? 'now ' + shutter : '');
    setText('aperture-now', s.exposure.aperture ? 'now f/' + s.exposure.aperture.toFixed(1) : '');
    setText('ev-now', s.exposure.ev === null ? '' : 'now ' + (s.exposure.ev > 0 ? '+' : '') + s.exposure.ev.toFixed(1));
    follow('shutter', choices && choices.shutterByCode[s.exposure.shutter_code]);
    follow('aperture', s.exposure.aperture ? s.exposure.aperture.toFixed(1) : undefined);
    follow('ev', s.exposure.ev === null ? undefined : s.exposure.ev.toFixed(1));
  }
}

// A picker shows the camera's value unless the user just picked one.
function follow(id, value) {
  const select = $(id);
  if (value === undefined || Date.now() < (Number(select.dataset.holdUntil) || 0)) return;
  if ([...select.options].some((o) => o.value === value)) select.value = value;
}

function connectEvents() {
  const events = new EventSource('/events');
  events.addEventListener('state', (e) => showState(JSON.parse(e.data)));
  events.addEventListener('config', (e) => showReport(JSON.parse(e.data), null));
  events.onerror = () => {
    const pill = $('connection');
    pill.textContent = 'Reconnecting…';
    pill.className = 'pill pill-down';
    document.body.classList.add('stale');
    // A refused stream (every slot taken) is not retried by the browser itself.
    if (events.readyState === EventSource.CLOSED) setTimeout(connectEvents, 5000);
  };
}

// ---- live picture ---------------------------------------------------------

// The box's Janus sends the video; vb-web carries the signalling. The smallest
// jitter buffer the browser allows keeps the picture as close to the camera
// as the network lets it.
const live = { pc: null, session: null, handle: null, keepalive: 0, retry: 0 };

function setLiveNote(text) {
  const note = $('live-note');
  note.textContent = text;
  note.hidden = !text;
}

function lowLatency(receiver) {
  if ('jitterBufferTarget' in receiver) receiver.jitterBufferTarget = 0;
  else if ('playoutDelayHint' in receiver) receiver.playoutDelayHint = 0;  // older browsers
}

// The browser's own candidates go with its answer: nothing trickles after.
function candidatesGathered(pc) {
  return new Promise((resolve) => {
    if (pc.iceGatheringState === 'complete') resolve();
    pc.addEventListener('icegatheringstatechange', () => {
      if (pc.iceGatheringState === 'complete') resolve();
    });
    setTimeout(resolve, 2000);
  });
}

function stopStream(tellServer) {
  clearInterval(live.keepalive);
  if (live.pc) live.pc.close();
  if (tellServer && live.session) postTo('/api/stream/stop', { session: live.session }, true);
  live.pc = live.session = live.handle = null;
}

function retryStream(ms) {
  clearTimeout(live.retry);
  live.retry = setTimeout(watchStream, ms);
}

async function watchStream() {
  stopStream(true);
  if (typeof RTCPeerConnection === 'undefined') return setLiveNote('This browser cannot show the live video.');
  const offer = await postTo('/api/stream/watch', {});
  if (!offer.ok) {
    setLiveNote('No live video: ' + offer.error);
    return retryStream(3000);
  }
  const pc = new RTCPeerConnection({ iceServers: [] });
  Object.assign(live, { pc: pc, session: offer.session, handle: offer.handle });
  pc.ontrack = (e) => {
    lowLatency(e.receiver);
    const video = $('live');
    video.srcObject = e.streams[0] || new MediaStream([e.track]);
    video.play().catch(() => {});
  };
  pc.onconnectionstatechange = () => {
    if (pc !== live.pc || (pc.connectionState !== 'failed' && pc.connectionState !== 'closed')) return;
    setLiveNote('The video connection broke; connecting again…');
    retryStream(2000);
  };
  try {
    await pc.setRemoteDescription(offer.offer);
    for (const receiver of pc.getReceivers()) lowLatency(receiver);
    await pc.setLocalDescription(await pc.createAnswer());
    await candidatesGathered(pc);
  } catch (e) {
    setLiveNote('This browser cannot play the live video: ' + e.message);
    return retryStream(10000);
  }
  const started = await postTo('/api/stream/start',
    { session: live.session, handle: live.handle, answer: { type: 'answer', sdp: pc.localDescription.sdp } });
  if (!started.ok) {
    setLiveNote('No live video: ' + started.error);
    return retryStream(3000);
  }
  live.keepalive = setInterval(async () => {
    const alive = await postTo('/api/stream/keepalive', { session: live.session });
    if (!alive.ok && alive.status === 404) retryStream(0);
  }, 15000);
}

function wireLive() {
  const video = $('live');
  video.addEventListener('playing', () => setLiveNote(''));
  video.addEventListener('waiting', () => setLiveNote('Waiting for the picture…'));
  window.addEventListener('pagehide', () => stopStream(true));
  watchStream();
}

// ---- camera controls ------------------------------------------------------

let choices = null;

function fillSelect(id, items, placeholder) {
  const select = $(id);
  select.replaceChildren();
  const first = new Option(placeholder, '', true, true);
  first.disabled = true;
  select.add(first);
  for (const [value, text] of items) select.add(new Option(text, value));
}

async function loadChoices() {
  const response = await fetch('/api/choices');
  const c = await response.json();
  choices = { shutterByCode: {} };
  for (const s of c.shutter) choices.shutterByCode[s.code] = s.name;
  fillSelect('iso', c.iso.map((v) => [v, v === 'auto' ? 'Auto' : v]), 'Set ISO');
  fillSelect('shutter', c.shutter.map((s) => [s.name, shutterText(s.code)]), 'Set shutter');
  fillSelect('aperture', c.aperture.map((v) => [v, 'f/' + v]), 'Set aperture');
  fillSelect('ev', c.ev.map((v) => [v, (Number(v) > 0 ? '+' : '') + v]), 'Set EV');
  for (const id of ['iso', 'shutter', 'aperture', 'ev']) {
    $(id).addEventListener('change', (e) => {
      const select = e.target;
      select.dataset.holdUntil = String(Date.now() + 3000);
      press(null, cameraCommand(id, select.value), id.toUpperCase() === 'EV' ? 'EV' : id[0].toUpperCase() + id.slice(1));
      if (id === 'iso') setText('iso-now', 'sent ' + select.value);
    });
  }
}

function wireButtons() {
  $('record').addEventListener('click', (e) => {
    const start = !(state && state.camera && state.camera.recording);
    press(e.currentTarget, cameraCommand('record', start ? 'start' : 'stop'), start ? 'Record' : 'Stop');
  });
  $('photo').addEventListener('click', (e) => press(e.currentTarget, cameraCommand('shot'), 'Photo'));
  $('mode-photo').addEventListener('click', (e) =>
    press(e.currentTarget, cameraCommand('camera', 'mode', 'photo'), 'Photo mode'));
  $('mode-video').addEventListener('click', (e) =>
    press(e.currentTarget, cameraCommand('camera', 'mode', 'video'), 'Video mode'));
  $('centre').addEventListener('click', (e) =>
    press(e.currentTarget, cameraCommand('position', 'normal'), 'Centre'));
  $('zoom-reset').addEventListener('click', (e) => press(e.currentTarget, cameraCommand('zoom', '0', '0'), 'Zoom 1×'));
  for (const button of $('playback').querySelectorAll('button[data-key]')) {
    button.addEventListener('click', (e) =>
      press(e.currentTarget, cameraCommand('playback', button.dataset.key), 'Playback ' + button.dataset.key));
  }
}

// ---- held controls --------------------------------------------------------

// The box ends a motion from the page that is not renewed within 2 s, so a
// page closed, hidden or cut off never leaves the gimbal moving. A held
// control repeats its command twice a second and sends the stop when let go,
// cancelled, or when the page loses focus or is hidden.
const REPEAT_MS = 500;

function moveCommand(pan, tilt) { return cameraCommand('position', 'moverel', String(pan), String(tilt)); }
function zoomSpeedCommand(speed) { return cameraCommand('zoom', '-2', String(speed)); }

// Each control: its command at a speed, and the command that stops it.
const HOLDS = {
  'pan-left': [(v) => moveCommand(-v, 0), () => moveCommand(0, 0)],
  'pan-right': [(v) => moveCommand(v, 0), () => moveCommand(0, 0)],
  'tilt-up': [(v) => moveCommand(0, v), () => moveCommand(0, 0)],
  'tilt-down': [(v) => moveCommand(0, -v), () => moveCommand(0, 0)],
  'zoom-in': [() => zoomSpeedCommand(1), () => zoomSpeedCommand(0)],
  'zoom-out': [() => zoomSpeedCommand(-1), () => zoomSpeedCommand(0)],
};

let held = null;

function startHold(button) {
  endHold();
  const [motion, stop] = HOLDS[button.dataset.hold];
  const command = motion(Number($('move-speed').value));
  const h = { button, stop: stop(), timer: 0, last: Promise.resolve(), busy: false };
  const send = () => {
    if (h.busy) return;  // the previous one is still on its way: no pile-up in the mailbox
    h.busy = true;
    h.last = post(command).then((answer) => {
      h.busy = false;
      if (!answer.ok) toast(button.getAttribute('aria-label') + ': ' + answer.error, 'bad');
    });
  };
  send();
  h.timer = setInterval(send, REPEAT_MS);
  button.setAttribute('aria-pressed', 'true');
  held = h;
}

function endHold() {
  if (!held) return;
  const h = held;
  held = null;
  clearInterval(h.timer);
  h.button.setAttribute('aria-pressed', 'false');
  // After the last repeat's answer, so the stop never reaches the box before it.
  h.last.then(() => post(h.stop));
}

function wireHolds() {
  const isKey = (e) => e.key === ' ' || e.key === 'Enter';
  for (const button of document.querySelectorAll('[data-hold]')) {
    button.addEventListener('pointerdown', (e) => {
      if (e.button !== 0) return;
      e.preventDefault();
      button.setPointerCapture(e.pointerId);
      startHold(button);
    });
    for (const end of ['pointerup', 'pointercancel', 'lostpointercapture', 'blur']) button.addEventListener(end, endHold);
    button.addEventListener('keydown', (e) => {
      if (!isKey(e)) return;
      e.preventDefault();
      if (!e.repeat) startHold(button);
    });
    button.addEventListener('keyup', (e) => { if (isKey(e)) endHold(); });
    button.addEventListener('contextmenu', (e) => e.preventDefault());  // a long press on a phone
  }
  window.addEventListener('blur', endHold);
  window.addEventListener('pagehide', endHold);
  document.addEventListener('visibilitychange', () => { if (document.hidden) endHold(); });
}

// ---- settings -------------------------------------------------------------

// The box's "updateparam" rows (from /api/params): each a command name and
// its members, each member with the report key of the setting it changes.
let rows = [];
// The report keys of the passwords, which the page never learns.
let passwordKeys = new Set();

let report = null;
let limits = [];

function inputsOf(form) { return [...form.querySelectorAll('[data-key]')]; }

// The page never learns a password: the report only says whether one is set.
// An empty field keeps it; "No password" clears it.
function isPassword(key) { return passwordKeys.has(key); }
function clearsPassword(form, key) {
  const box = form.querySelector('[data-clears="' + key + '"]');
  return Boolean(box && box.checked);
}

// The text an input stands for, as the box's command takes it.
function inputValue(input) {
  if (input.type === 'checkbox') return input.checked ? '1' : '0';
  return input.type === 'number' ? input.value.trim() : input.value;
}

// The report's value of a key, as the same text.
function reportValue(key) {
  const v = report[key];
  if (v === undefined || v === null) return '';
  return String(v);
}

function setInput(input, value) {
  if (isPassword(input.dataset.key)) {
    input.placeholder = report[input.dataset.key + '_set'] ? 'set; type a new one to change it' : 'not set';
  }
  if (input.type === 'checkbox') {
    input.checked = value === '1';
    return;
  }
  // A value the file holds but the picker does not offer is shown as it is.
  if (input.tagName === 'SELECT' && ![...input.options].some((o) => o.value === value)) {
    input.add(new Option(value || '(not set)', value));
  }
  input.value = value;
}

function formDirty(form) {
  return inputsOf(form).some((input) => inputValue(input) !== reportValue(input.dataset.key));
}

// Fills the forms from a report; a form the user is editing keeps the user's
// values, except the one just saved (saved), or every form when saved is 'all'.
function showReport(r, saved) {
  report = r;
  $('version').textContent = r.version ? 'version ' + r.version : 'camera bridge';
  $('settings-note').textContent = '';
  $('ap-state').textContent = r.apstate ? '(running)' : '(not running)';
  for (const form of document.querySelectorAll('form[data-group]')) {
    if (saved !== 'all' && form !== saved && form.dataset.edited === 'true') continue;
    for (const input of inputsOf(form)) setInput(input, reportValue(input.dataset.key));
    for (const box of form.querySelectorAll('[data-clears]')) box.checked = false;
    form.dataset.edited = 'false';
    clearProblems(form);
  }
  if (state) showState(state);
}

// The pickers of settings with choices offer the box's words, each under the
// value the report shows for it.
function fillChoices() {
  for (const member of rows.flatMap((row) => row.members)) {
    for (const select of document.querySelectorAll('select[data-key="' + member.key + '"]')) {
      for (const choice of member.choices || []) {
        for (const option of [...select.options]) if (option.value === choice.reported) option.remove();
        select.add(new Option(choice.label, choice.reported));
      }
    }
  }
  if (report) showReport(report, null);
}

function utf8Length(text) { return new TextEncoder().encode(text).length; }

// The same rules the server applies to texts that go into the settings file.
function textProblem(rule, text) {
  if (text === '') return null;
  const bytes = utf8Length(text);
  if (bytes > rule.max) return 'is too long (at most ' + rule.max + ' bytes)';
  if (bytes < rule.min) return 'is too short (at least ' + rule.min + ' characters)';
  if (/[\u0000-\u001f\u007f]/.test(text)) return 'holds a control character';
  if (rule.printable && /[^\u0020-\u007e]/.test(text)) return 'may hold only printable ASCII characters';
  if (text.includes('"')) return 'may not hold a double quote';
  if (text.includes(' ;')) return 'may not hold a blank followed by ";"';
  if (!rule.quoted && (text.startsWith(' ') || text.endsWith(' '))) return 'may not start or end with a blank';
  return null;
}

function clearProblems(form) {
  for (const p of form.querySelectorAll('.problem')) p.remove();
  for (const i of form.querySelectorAll('.invalid')) i.classList.remove('invalid');
}

function markProblem(input, text) {
  input.classList.add('invalid');
  const p = document.createElement('span');
  p.className = 'problem';
  p.textContent = text;
  input.closest('.field').append(p);
}

// The rows a form sends: those whose every member has a field in the form,
// less a row whose fields a longer such row sends as well (a single RC speed
// beside all three).
function rowsOf(form) {
  const keys = new Set(inputsOf(form).map((input) => input.dataset.key));
  const fit = rows.filter((row) => row.members.length > 0 && row.members.every((m) => keys.has(m.key)));
  const covers = (a, b) => b.members.every((m) => a.members.some((n) => n.key === m.key));
  return fit.filter((row, i) => !fit.some((other, j) => other !== row && covers(other, row) &&
    (other.members.length > row.members.length || (other.members.length === row.members.length && j < i))));
}

// The word a member's command takes for a value as the report shows it
// (the access point's band "2" is sent as "2.4").
function commandWord(member, value) {
  const choice = (member.choices || []).find((c) => c.reported === value);
  return choice ? choice.word : value;
}

// A row's fields, as the form names them, for the answer line.
function rowLabel(form, row) {
  return row.members.map((m) => {
    const span = form.querySelector('[data-key="' + m.key + '"]').closest('label').querySelector('span');
    return span ? span.firstChild.textContent.trim() : m.key;
  }).join(', ');
}

// The commands for the changed rows of a form ({command, label} each), or
// null when an input is refused.
function buildCommands(form) {
  const byKey = {};
  for (const input of inputsOf(form)) byKey[input.dataset.key] = input;
  clearProblems(form);
  let refused = false;
  for (const input of inputsOf(form)) {
    if (input.type === 'number' && input.value !== '') {
      const n = Number(input.value);
      if (!Number.isInteger(n) || n < Number(input.min) || n > Number(input.max)) {
        markProblem(input, 'a whole number from ' + input.min + ' to ' + input.max);
        refused = true;
      }
    }
  }
  const commands = [];
  for (const row of rowsOf(form)) {
    const keys = row.members.map((m) => m.key);
    if (!keys.some((k) => inputValue(byKey[k]) !== reportValue(k) || clearsPassword(form, k))) continue;
    const command = { cmd: 'updateparam', name: row.name };
    for (const member of row.members) {
      const key = member.key;
      let value = inputValue(byKey[key]);
      if (member.password && clearsPassword(form, key)) value = '';
      else if (member.password && value === '') continue;  // left out: kept
      value = commandWord(member, value);
      command[member.member] = value;
      const rule = limits.find((l) => l.cmd === 'updateparam' && l.name === row.name && l.member === member.member);
      const problem = rule && textProblem(rule, value);
      if (problem) {
        markProblem(byKey[key], 'The ' + rule.label + ' ' + problem + '.');
        refused = true;
      }
    }
    commands.push({ command, label: rowLabel(form, row) });
  }
  return refused ? null : commands;
}

async function saveForm(form) {
  const answerLine = form.querySelector('.answer');
  const button = form.querySelector('button[type="submit"]');
  if (!report) {
    answerLine.textContent = 'The box has not sent its settings yet.';
    answerLine.className = 'answer bad';
    return;
  }
  const commands = buildCommands(form);
  if (commands === null) {
    answerLine.textContent = 'Nothing was sent: correct the marked fields first.';
    answerLine.className = 'answer bad';
    const first = form.querySelector('.invalid');
    first.scrollIntoView({ block: 'center' });
    first.focus({ preventScroll: true });
    return;
  }
  if (commands.length === 0) {
    answerLine.textContent = 'Nothing changed.';
    answerLine.className = 'answer';
    return;
  }
  button.setAttribute('aria-busy', 'true');
  // What the report should then say: the values, and for a password whether one is set.
  const wanted = {};
  for (const input of inputsOf(form)) {
    const key = input.dataset.key;
    if (!isPassword(key)) wanted[key] = inputValue(input);
    else if (input.value !== '' || clearsPassword(form, key)) wanted[key + '_set'] = input.value !== '' ? 'true' : 'false';
  }
  let last = null;
  let saved = 0;
  let savedReport = null;
  for (const { command, label } of commands) {
    answerLine.textContent = 'Saving ' + label + '…';
    answerLine.className = 'answer';
    last = await post(command);
    if (!last.ok) break;
    saved += 1;
    savedReport = last.report || savedReport;
  }
  button.removeAttribute('aria-busy');
  if (!last.ok) {
    answerLine.className = 'answer bad';
    if (saved === 0) {
      answerLine.textContent = 'Not saved: ' + last.error;
      return;
    }
    // The rows before the refused one are saved: the box's report shows them,
    // and the form keeps the values that were not saved, to send again.
    const labels = (from, to) => commands.slice(from, to).map((c) => c.label).join('; ');
    let text = 'Saved: ' + labels(0, saved) + '. Not saved: ' + labels(saved, saved + 1) + ' (' + last.error + ')';
    if (saved + 1 < commands.length) text += '; not sent: ' + labels(saved + 1);
    answerLine.textContent = text + '.';
    form.dataset.edited = 'true';
    if (savedReport) showReport(savedReport, null);
    return;
  }
  if (!last.report) {
    answerLine.textContent = 'The box took the change, but its report did not arrive. Read the settings again.';
    answerLine.className = 'answer bad';
    return;
  }
  showReport(last.report, form);
  // The box's answer: what it now reports, beside what was asked for.
  const differ = Object.keys(wanted).filter((k) => reportValue(k) !== wanted[k]);
  if (differ.length === 0) {
    answerLine.textContent = 'Saved. The box reports the new settings.';
    answerLine.className = 'answer good';
  } else {
    answerLine.textContent = 'Saved, but the box reports ' +
      differ.map((k) => k + ' = ' + (reportValue(k) || '(empty)') + ' (asked ' + (wanted[k] || '(empty)') + ')').join(', ');
    answerLine.className = 'answer bad';
  }
}

async function requestReport(button) {
  if (button) button.setAttribute('aria-busy', 'true');
  const answer = await post({ cmd: 'configrequest' });
  if (button) button.removeAttribute('aria-busy');
  if (answer.ok && answer.report) showReport(answer.report, button ? 'all' : null);
  else $('settings-note').textContent = 'The box did not send its settings: ' + (answer.error || 'no report arrived');
}

// A backup chosen for restoring goes to the box byte for byte; the box checks it and answers.
async function restoreFile(input) {
  const file = input.files[0];
  if (!file) return;
  const line = $('restore-answer');
  line.className = 'answer';
  line.textContent = 'Restoring ' + file.name + '…';
  const answer = file.size > 32768
    ? { ok: false, error: 'not restored: the file is longer than a settings file may be' }
    : await postTo('/api/settings-restore', { file: Array.from(new Uint8Array(await file.arrayBuffer())) });
  input.value = '';
  const text = answer.ok ? 'restored: ' + answer.message : answer.error;
  line.className = 'answer ' + (answer.ok ? 'good' : 'bad');
  line.textContent = text.charAt(0).toUpperCase() + text.slice(1) + '.';
  if (answer.ok && !answer.restart) requestReport(null);
}

function wireSettings() {
  for (const box of document.querySelectorAll('[data-clears]')) {
    box.addEventListener('change', () => {
      if (box.checked) box.form.querySelector('[data-key="' + box.dataset.clears + '"]').value = '';
    });
  }
  for (const form of document.querySelectorAll('form[data-group]')) {
    form.addEventListener('input', () => { form.dataset.edited = 'true'; });
    form.addEventListener('submit', (e) => {
      e.preventDefault();
      saveForm(form);
    });
  }
  $('show-passwords').addEventListener('change', (e) => {
    for (const input of inputsOf(document)) {
      if (isPassword(input.dataset.key)) input.type = e.target.checked ? 'text' : 'password';
    }
  });
  $('reload-settings').addEventListener('click', (e) => requestReport(e.currentTarget));
  $('restore-file').addEventListener('change', (e) => restoreFile(e.currentTarget));
}

async function start() {
  wireLive();
  wireButtons();
  wireHolds();
  wireSettings();
  connectEvents();
  try {
    const tables = await Promise.all(['/api/params', '/api/limits'].map(async (path) => (await fetch(path)).json()));
    [rows, limits] = tables;
    passwordKeys = new Set(rows.flatMap((row) => row.members.filter((m) => m.password).map((m) => m.key)));
    fillChoices();
    await loadChoices();
  } catch (e) {
    toast('Could not load the page\'s tables: ' + e, 'bad');
  }
  try {
    const known = await fetch('/api/config');
    if (known.ok) showReport(await known.json(), null);
  } catch (e) { /* asked for below */ }
  requestReport(null);
}

document.addEventListener('DOMContentLoaded', start);
