// The page: the window's panel and strip, the view and the plots, wired to the physics worker. The
// page shows ticks; it never computes one.
import { ArmView, forceText } from './view.js';
import { Plots } from './plots.js';
import { Lab } from './lab.js';
import { openDropped, openSample, samples } from './files.js';

const $ = (id) => document.getElementById(id);
const kTimeStep = 0.01;
const kVectorReadLimit = 1024;
const kCoefficientReadLimit = 64;
const kSlowdowns = [1, 2, 4, 8, 16];

const worker = new Worker('src/worker.js');
const view = new ArmView($('view'));
const plots = new Plots($('plots'));

// What the page wrote into a field, so that a text left untouched gives back the exact numbers.
const written = new Map();
// A field whose text stays is left alone: writing it would lay the page out again.
function write(id, text, value) {
  if ($(id).value !== text) $(id).value = text;
  written.set(id, { text, value });
}
// A field as the panel reads it: its text within the read limit, and the numbers written with it
// while the text is untouched.
function field(id, limit) {
  const text = $(id).value.slice(0, limit - 1);
  const w = written.get(id);
  return { text, written: w && w.text === text ? w.value : null };
}

const run = {
  arm: null,
  pending: [], // ticks done, not yet shown
  shownTicks: 0, // ticks shown since the page started
  frames: 0,
  rate: [], // [wall ms, ticks shown, frames] over about the last second
  clock: { paused: false, slowdown: 1, slipped: 0, deferred: 0 },
  deferredRate: [],
  costMs: 0,
  diverged: null,
  options: null,
  recording: false,
  limitText: '',
  source: null, // how the arm's files are read
};

function post(type, data = {}) {
  worker.postMessage({ type, ...data });
}
const lab = new Lab(post, () => !run.clock.paused && !run.diverged);

function notice(text) {
  $('notices').textContent = text;
}

worker.onmessage = async ({ data }) => {
  switch (data.type) {
    case 'arm':
      await showArm(data.arm, data.notices);
      break;
    case 'refused':
      notice(data.error);
      break;
    case 'ticks':
      run.pending.push(...data.ticks);
      run.poses = data.poses;
      run.tool = data.tool;
      run.pull = data.pull;
      run.costMs = data.costMs;
      run.clock = data.clock;
      break;
    case 'clock':
      run.clock = data.clock;
      showOptions(data.options);
      break;
    case 'options':
      showOptions(data.options);
      if (data.notice) notice(data.notice);
      if (data.poses) view.setPoses(data.poses, data.state.atLimit);
      break;
    case 'inputs':
      break;
    case 'pull':
      run.pull = data.pull;
      view.setPull(run.pull);
      break;
    case 'forces':
      showForces(data.forces, data.problem);
      break;
    case 'control':
      lab.showControl(data.control, data.problem, data.taught);
      lab.showPose(lab.q, data.tool);
      break;
    case 'reset':
      run.pending = [];
      run.diverged = null;
      showState(data.state);
      // The angles where Reset or the teach panel put the joints; the rest at the next tick.
      write('angles', data.angles, data.state.q);
      view.setPoses(data.poses, data.state.atLimit);
      lab.showControl(data.control, '');
      lab.showPose(data.state.q, data.tool);
      if (data.notice) notice(data.notice);
      post('shown', { serial: data.serial });
      break;
    case 'recording':
      recorded(data);
      break;
    case 'failure':
      notice('The engine failed: ' + data.error);
      break;
  }
};

async function showArm(arm, notices) {
  run.arm = arm;
  run.pending = [];
  run.diverged = null;
  // The strip's time is the new arm's.
  run.shownTicks = 0;
  run.rate = [];
  write('viscous', arm.texts.viscous, arm.viscous);
  write('coulomb', arm.texts.coulomb, arm.coulomb);
  write('gravity', arm.texts.gravity, arm.gravity);
  write('torque', arm.texts.torque, arm.torque);
  write('accel', arm.texts.accel, arm.accel);
  $('forward').checked = true;
  modeChanged();
  showState(arm.state, arm.texts);
  showOptions(arm.options);
  plots.setArm(arm.names);
  lab.setArm(arm);
  run.pull = null;
  view.setPull(null);
  showForces(arm.forces, '');
  const visuals = arm.visuals || [];
  const meshNotices = await view.setArm(arm, visuals, (uri) =>
    run.source ? run.source(uri) : null,
  );
  notice([...notices, ...meshNotices].join('\n'));
  document.title = arm.fromFile ? `Velmoth: ${arm.name}` : 'Velmoth';
}

function showState(state, texts) {
  const t = texts || state.texts;
  if (t) {
    if (state.inverse) write('torque', t.output, state.torque);
    else write('accel', t.output, state.accel);
    write('kinetic', t.kinetic, state.kinetic);
    write('potential', t.potential, state.potential);
    write('total', t.total, state.kinetic + state.potential);
    write('angles', t.angles, state.q);
  }
  run.limitText = state.limitText || '';
}

function showOptions(o) {
  if (!o) return;
  run.options = o;
  $('engine').value = o.engine;
  $('integrator').value = o.integrator;
  $('substeps').value = o.substeps;
  if (document.activeElement !== $('tolerance')) $('tolerance').value = o.toleranceText;
  $('limits').checked = o.limits;
  $('efforts').checked = o.efforts;
  $('friction').value = o.friction;
  $('run').textContent = o.paused ? 'Run' : 'Pause';
  $('speed').value = String(o.slowdown);
  $('status').textContent = statusText();
}

// Every frame: the ticks done since the last one go to the plots, the newest to the panel and
// the view.
function frame(time) {
  requestAnimationFrame(frame);
  if (run.pending.length > 0) {
    let ticks = run.pending;
    run.pending = [];
    // A tick that diverged (its state not finite, or made energy without work) is the last one
    // shown until Reset.
    if (run.diverged) ticks = [];
    const end = ticks.findIndex((t) => !t.finite);
    if (end >= 0) {
      ticks = ticks.slice(0, end + 1);
      run.diverged = ticks[end];
    }
    if (ticks.length > 0) {
      plots.add(ticks);
      const newest = ticks[ticks.length - 1];
      run.last = newest;
      showState(newest);
      view.setPoses(run.poses, newest.atLimit);
      view.setPull(run.pull);
      if (!$('lab').hidden) lab.showPose(newest.q, run.tool);
      // A tick that reached the step's cap or found the energy balance off says so; the run goes
      // on.
      const noted = ticks.filter((t) => t.note);
      if (noted.length > 0) notice(noted.map((t) => t.note).join('\n'));
      run.shownTicks += ticks.length;
      post('shown', { serial: newest.serial });
    }
  }
  if (view.draw()) run.frames++;
  plots.draw();
  sampleRates(time);
}

// The strip's rates over about the last second, as the window's RateMeter.
function sampleRates(time) {
  run.rate.push([time, run.shownTicks, run.frames, run.clock.deferred]);
  while (run.rate.length > 2 && time - run.rate[1][0] >= 1000) run.rate.shift();
}
function perSecond(index) {
  const r = run.rate;
  if (r.length < 2 || r[r.length - 1][0] - r[0][0] <= 0) return 0;
  return ((r[r.length - 1][index] - r[0][index]) * 1000) / (r[r.length - 1][0] - r[0][0]);
}
function speedText(slowdown) {
  return slowdown === 1 ? '1' : '1/' + slowdown;
}
function statusText() {
  const c = run.clock;
  const o = run.options || {};
  const simulated = run.shownTicks * kTimeStep;
  if (run.diverged) {
    return `Diverged at t = ${(run.diverged.serial * kTimeStep).toFixed(2)} s: press Reset`;
  }
  const realTime = perSecond(1) * kTimeStep;
  let pace = '';
  const allowed = kTimeStep * 1e3 * (c.slowdown || 1);
  if (!c.paused && perSecond(3) > 0 && run.costMs >= allowed) {
    pace =
      run.costMs < 10000
        ? ` (each tick takes ${run.costMs.toFixed(0)} ms, not ${allowed.toFixed(0)} ms)`
        : ` (each tick takes ${(run.costMs / 1000).toFixed(0)} s, not ${allowed.toFixed(0)} ms)`;
  }
  let line =
    `t = ${simulated.toFixed(2)} s    real time ${realTime.toFixed(2)}${pace}    ` +
    `${perSecond(2).toFixed(0)} frames per second    speed ${speedText(c.slowdown || 1)}    ` +
    `${c.paused ? 'paused' : 'running'}`;
  if (c.slipped > 0) line += `    slip ${(c.slipped * kTimeStep).toFixed(2)} s`;
  if (o.stepText) line += `    ${o.stepText}`;
  if (run.limitText) line += `    ${run.limitText}`;
  if (run.pull) {
    line +=
      `    Pulling ${run.pull.name}: ${forceText(run.pull.newtons)} ` +
      `(${Number(run.pull.stiffness.toPrecision(3))} N/m; the wheel changes it)`;
  }
  if (run.recording) line += '    recording';
  return line;
}
setInterval(() => {
  const text = statusText();
  if ($('status').textContent !== text) $('status').textContent = text;
}, 250);

// The panel.
function modeChanged() {
  const inverse = $('inverse').checked;
  $('setTorque').disabled = inverse;
  $('torque').disabled = inverse;
  $('setAccel').disabled = !inverse;
  $('accel').disabled = !inverse;
  post('mode', { inverse });
}
$('forward').addEventListener('change', () => {
  modeChanged();
  post('torque', { field: field('torque', kVectorReadLimit) });
});
$('inverse').addEventListener('change', () => {
  modeChanged();
  post('accel', { field: field('accel', kVectorReadLimit) });
});
$('setTorque').addEventListener('click', () =>
  post('torque', { field: field('torque', kVectorReadLimit) }),
);
$('setAccel').addEventListener('click', () =>
  post('accel', { field: field('accel', kVectorReadLimit) }),
);
$('set').addEventListener('click', () => {
  const viscous = field('viscous', kCoefficientReadLimit);
  const coulomb = field('coulomb', kCoefficientReadLimit);
  const edited = viscous.written === null || coulomb.written === null;
  post('parameters', { viscous, coulomb, gravity: field('gravity', kVectorReadLimit), edited });
});
$('reset').addEventListener('click', () => {
  plots.clear();
  post('reset');
});

// The strip.
for (const d of kSlowdowns) $('speed').add(new Option(speedText(d), String(d)));
$('run').addEventListener('click', () => post('pause'));
$('step').addEventListener('click', () => post('stepOnce'));
$('speed').addEventListener('change', () =>
  post('slowdown', { slowdown: Number($('speed').value) }),
);
function sendStep() {
  post('step', {
    engine: $('engine').value,
    integrator: $('integrator').value,
    substeps: Math.round(Number($('substeps').value) || 1),
    tolerance: Number($('tolerance').value) || 1e-9,
  });
}
for (const id of ['engine', 'integrator', 'substeps', 'tolerance'])
  $(id).addEventListener('change', sendStep);
$('limits').addEventListener('change', () => post('physics', { limits: $('limits').checked }));
$('efforts').addEventListener('change', () => post('physics', { efforts: $('efforts').checked }));
$('friction').addEventListener('change', () => post('physics', { friction: $('friction').value }));
document.addEventListener('keydown', (e) => {
  if (e.key === 'F5') {
    e.preventDefault();
    post('pause');
  } else if (e.key === 'F6') {
    e.preventDefault();
    post('stepOnce');
  } else if (e.key === 'F4') {
    e.preventDefault();
    toggleLab();
  }
});

// Recording and screenshot, downloaded as files named as the window names them.
function timestamped(extension) {
  const d = new Date();
  const p = (n) => String(n).padStart(2, '0');
  return `velmoth-${d.getFullYear()}${p(d.getMonth() + 1)}${p(d.getDate())}-${p(d.getHours())}${p(d.getMinutes())}${p(d.getSeconds())}${extension}`;
}
function download(blob, name) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 10000);
}
// A recording is its CSV file, downloaded when it stops, and beside it its replay, offered as a
// link: `velmoth-sim run --replay NAME.csv.replay` repeats it byte for byte.
$('record').addEventListener('click', () => {
  if (!run.recording) run.recordingName = timestamped('.csv');
  post('record', { on: !run.recording, name: run.recordingName });
});
function recorded({ on, text, ticks, replay }) {
  run.recording = on;
  $('record').textContent = on ? 'Stop recording' : 'Record';
  $('record').classList.toggle('on', on);
  if (!on) {
    window.velmothLastRecording = { csv: text, replay, name: run.recordingName };
    download(new Blob([text], { type: 'text/csv' }), run.recordingName);
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([replay], { type: 'text/plain' }));
    link.download = run.recordingName + '.replay';
    link.textContent = link.download;
    $('notices').replaceChildren(
      `Recorded ${ticks} ticks into ${run.recordingName}; its replay: `,
      link,
    );
  }
}
$('screenshot').addEventListener('click', () => {
  view.dirty = true;
  view.draw();
  $('view').toBlob((blob) => download(blob, timestamped('.png')), 'image/png');
});
$('plotsToggle').addEventListener('click', () => {
  $('plots').hidden = !$('plots').hidden;
  plots.visible = !$('plots').hidden;
  view.resize();
});

function toggleLab() {
  $('lab').hidden = !$('lab').hidden;
  $('labToggle').classList.toggle('on', !$('lab').hidden);
  if (!$('lab').hidden) lab.showPose(lab.q, run.tool);
  view.resize();
}
$('labToggle').addEventListener('click', toggleLab);

// Arms: the samples, a file chosen, a file dropped with its mesh folder.
for (const s of samples) $('sample').add(new Option(s.label, s.id));
$('sample').addEventListener('change', () => loadSample($('sample').value, []));
async function loadSample(id, payloads) {
  if (id === 'built-in') {
    run.source = null;
    post('builtIn', { links: 6, payloads });
    return;
  }
  const { text, source, read } = await openSample(id);
  run.source = read;
  post('urdf', { text, source, payloads });
}
async function loadFiles(entries) {
  const opened = await openDropped(entries);
  if (!opened) {
    notice('No URDF file among what was opened');
    return;
  }
  run.source = opened.read;
  post('urdf', { text: opened.text, source: opened.source });
}
$('open').addEventListener('change', (e) =>
  loadFiles([...e.target.files].map((file) => ({ file, path: file.name }))),
);
$('openFolder').addEventListener('change', (e) =>
  loadFiles(
    [...e.target.files].map((file) => ({ file, path: file.webkitRelativePath || file.name })),
  ),
);
const main = document.querySelector('main');
main.addEventListener('dragover', (e) => {
  e.preventDefault();
  $('drop').hidden = false;
});
main.addEventListener('dragleave', () => {
  $('drop').hidden = true;
});
main.addEventListener('drop', async (e) => {
  e.preventDefault();
  $('drop').hidden = true;
  loadFiles(await droppedFiles(e.dataTransfer));
});

// Everything dropped, folders walked, with the paths inside what was dropped.
async function droppedFiles(transfer) {
  const out = [];
  const walk = async (entry, prefix) => {
    if (entry.isFile) {
      const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
      out.push({ file, path: prefix + entry.name });
    } else if (entry.isDirectory) {
      const reader = entry.createReader();
      for (;;) {
        const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
        if (batch.length === 0) break;
        for (const child of batch) await walk(child, prefix + entry.name + '/');
      }
    }
  };
  const entries = [...transfer.items].map((item) =>
    item.webkitGetAsEntry ? item.webkitGetAsEntry() : null,
  );
  if (entries.every((e) => e)) {
    for (const entry of entries) await walk(entry, '');
  } else {
    for (const file of transfer.files) out.push({ file, path: file.name });
  }
  return out;
}

// A link can choose the arm: ?arm=scara.urdf (a sample), ?links=N (the built-in arm of N links).
// ?payload=FRAME:mass[@px,py,pz] (repeatable) loads that arm with the payloads, and
// ?force=FRAME:fx,fy,fz[@px,py,pz] (repeatable) holds the forces on it, as velmoth-sim's options.
const params = new URLSearchParams(location.search);
const payloads = params.getAll('payload');
if (params.has('arm') && samples.some((s) => s.id === params.get('arm'))) {
  $('sample').value = params.get('arm');
  loadSample(params.get('arm'), payloads);
} else if (params.has('links')) {
  const links = Math.round(Number(params.get('links')));
  if (links >= 0 && links <= 100) post('builtIn', { links, payloads });
} else if (payloads.length > 0) {
  post('builtIn', { links: 6, payloads });
}
if (params.has('force')) post('forces', { text: params.getAll('force').join(' ') });

// The mouse's pull, Ctrl and a left drag on a link (view.js picks the point).
view.onPull = (kind, data) => {
  if (kind === 'press') post('pullStart', data);
  else if (kind === 'move') post('pullMove', data);
  else if (kind === 'wheel') post('pullWheel', data);
  else post('pullRelease');
};

// The forces held, as velmoth-sim's --force options: FRAME:fx,fy,fz[@px,py,pz], apart by spaces.
function showForces(forces, problem) {
  if (!problem && document.activeElement !== $('forces')) $('forces').value = forces.join(' ');
  $('forcesStatus').textContent = problem || (forces.length ? `${forces.length} held` : 'none');
}
$('forcesApply').addEventListener('click', () => post('forces', { text: $('forces').value }));
$('forces').addEventListener('keydown', (e) => {
  if (e.key === 'Enter') post('forces', { text: $('forces').value });
});

// For tests and the benchmark: the page's state, read-only.
window.velmoth = { run, post, view, lab };
requestAnimationFrame(frame);
