// The physics of the page, on a thread of its own as the window's physics thread: the Simulation
// and the tick clock (the window's own, compiled from the same source). The page sends what the
// user does; the worker answers with the ticks done, in order, each with what the panel, the
// plots and the recording need. Drawing never waits for a tick, and a tick never for drawing.
/* global importScripts, VelmothEngine */
importScripts('../engine/velmoth_engine.js');

const kPeriodMs = 10;
// The page may fall this many ticks behind showing them; beyond that the clock defers.
const kMaxUnshown = 200;
// The window's physics takes no more ticks while this many wait.
const kQueueTicks = 20;

let engine = null;
let sim = null;
let pacer = null;
let timer = 0;
let serial = 0; // ticks computed since the arm was loaded
let shown = 0; // the newest tick the page has shown
let tickCostMs = 0;
let finished = []; // when each tick of the last burst was done
let recording = null; // {rows: [], ticks, balance}
let urdfText = ''; // the description of the arm from a file, and its name
let urdfSource = '';
let toolFrame = ''; // the frame the teach panel reads out

const now = () => performance.now();

function post(type, data, transfer) {
  self.postMessage({ type, ...data }, transfer || []);
}

// What the page needs of the arm after a load.
function armInfo() {
  const state = sim.state();
  state.inverse = sim.inverse();
  return {
    texts: {
      ...texts(state),
      viscous: engine.numberText(sim.viscous()),
      coulomb: engine.numberText(sim.coulomb()),
      gravity: engine.vectorText(sim.gravity()),
      torque: engine.vectorText(sim.torque()),
      accel: engine.vectorText(sim.accel()),
    },
    joints: sim.jointCount(),
    names: sim.jointNames(),
    name: sim.name(),
    fromFile: sim.fromFile(),
    lower: sim.lower(),
    upper: sim.upper(),
    hasLimits: sim.hasLimits(),
    hasFileFriction: sim.hasFileFriction(),
    frames: sim.frameNames(),
    frameLinks: sim.frameLinks(),
    forces: sim.forces(),
    payloads: sim.payloads(),
    figure: sim.figure(),
    visuals: sim.fromFile() ? engine.visuals(urdfText) : [],
    poses: sim.poses(),
    motions: sim.motions(),
    control: control(),
    tool: sim.toolText(toolFrame),
    options: options(),
    viscous: sim.viscous(),
    coulomb: sim.coulomb(),
    gravity: sim.gravity(),
    torque: sim.torque(),
    accel: sim.accel(),
    state,
  };
}

// The controller, with its target in the panel's vector format.
function control() {
  const c = sim.control();
  c.targetText = engine.vectorText(c.target);
  return c;
}

function options() {
  return {
    engine: sim.engine(),
    integrator: sim.integrator(),
    substeps: sim.substeps(),
    tolerance: sim.tolerance(),
    toleranceText: engine.toleranceText(sim.tolerance()),
    stepText: sim.stepText(),
    limits: sim.limits(),
    friction: sim.frictionSource(),
    efforts: sim.effortLimits(),
    paused: pacer.paused(),
    slowdown: pacer.slowdown(),
  };
}

// The ticks of one burst, computed back to back and sent together.
function runTicks(count) {
  const done = [];
  for (let k = 0; k < count; ++k) {
    const start = now();
    sim.tick();
    const end = now();
    // What a tick costs now: the mean of about the last ten.
    tickCostMs = tickCostMs > 0 ? tickCostMs + 0.1 * (end - start - tickCostMs) : end - start;
    finished.push(end);
    ++serial;
    const state = sim.state();
    state.serial = serial;
    state.inverse = sim.inverse();
    state.note = sim.tickNote();
    done.push(state);
    if (recording) {
      ++recording.ticks;
      recording.rows.push(sim.csvRow(recording.ticks, recording.balance));
    }
    // The run stops at a tick that diverged, as the window's does.
    if (!state.finite) {
      pacer.pause(now());
      break;
    }
  }
  if (done.length > 0) {
    done[done.length - 1].texts = texts(done[done.length - 1]);
    post('ticks', {
      ticks: done,
      poses: sim.poses(),
      tool: sim.toolText(toolFrame),
      pull: sim.pullState(),
      costMs: tickCostMs,
      clock: clockInfo(),
    });
  }
}

// The panel's texts of a tick, in its formats: the output field (accelerations of a forward tick,
// torques of an inverse one), the energies and the angles.
function texts(state) {
  return {
    output: engine.vectorText(state.inverse ? state.torque : state.accel),
    kinetic: engine.numberText(state.kinetic),
    potential: engine.numberText(state.potential),
    total: engine.numberText(state.kinetic + state.potential),
    angles: engine.vectorText(state.q),
  };
}

// A vector field as the panel reads it: the numbers it wrote there while the text is untouched,
// else the text read with the panel's rules.
function vectorOf(field, n) {
  const w = field.written;
  return w && w.length === n ? w : engine.readVector(field.text, n);
}

function clockInfo() {
  return {
    paused: pacer.paused(),
    slowdown: pacer.slowdown(),
    delivered: pacer.delivered(),
    slipped: pacer.slipped(),
    deferred: pacer.deferred(),
  };
}

// One timer event: the clock's bursts, then the next event when the next tick falls due.
//
// The window's pacer asks on a thread of its own while the physics computes; here both take turns
// on one thread. So the periods that fell due while the last ticks were computed are met as the
// pacer met them then, each at its own time, with the ticks still computing at that time (from
// when each finished) and those asked since waiting ahead of it: where they are 40 ms of work, the
// period is deferred and the run slows to the physics' pace, as in the window. The periods due
// since then, a timer that came late, are one burst now, under the clock's catch-up limit.
function pump() {
  timer = 0;
  // A page that has fallen too far behind takes no more ticks: the clock defers them.
  const behind = () => (serial - shown >= kMaxUnshown ? kQueueTicks : 0);
  let count = 0;
  const computedUntil = finished.length > 0 ? finished[finished.length - 1] : -Infinity;
  for (let due = pacer.nextDue(); due <= computedUntil; due = pacer.nextDue()) {
    const computing = finished.filter((f) => f > due).length;
    count += pacer.burst(due, computing + count + behind(), tickCostMs);
  }
  count += pacer.burst(now(), count + behind(), tickCostMs);
  finished = [];
  if (count > 0) runTicks(count);
  schedule();
}

function schedule() {
  if (timer) clearTimeout(timer);
  const due = pacer.nextDue();
  if (!Number.isFinite(due)) {
    timer = 0;
    return;
  }
  timer = setTimeout(pump, Math.max(0, due - now()));
}

// Payloads for the arm just loaded, as --payload gives them; each refused one is a notice.
function addPayloads(s, payloads) {
  const problems = [];
  for (const text of payloads || []) {
    const problem = s.addPayload(text);
    if (problem) problems.push(problem);
  }
  return problems;
}

function loaded(ok, what, problems = []) {
  if (!ok) {
    post('refused', { error: sim.error(), what });
    return;
  }
  serial = 0;
  shown = 0;
  recording = null;
  toolFrame = '';
  post('arm', { arm: armInfo(), notices: [...sim.notices(), ...problems], what });
}

// The pull as it stands, for the view and the strip.
function pulled() {
  post('pull', { pull: sim.pullState() });
}

// After Reset or a pose: the state, the controller's reference starting afresh.
function posed(notice) {
  const state = sim.state();
  post('reset', {
    state,
    angles: engine.vectorText(state.q),
    poses: sim.poses(),
    notice,
    serial,
    control: control(),
    tool: sim.toolText(toolFrame),
  });
}

function clockChanged() {
  schedule();
  post('clock', { clock: clockInfo(), options: options() });
}

// Every message the page sends, by type.
const handlers = {
  builtIn({ links, payloads }) {
    const ok = sim.loadBuiltIn(links ?? 6);
    if (!ok) post('refused', { error: sim.error(), what: 'built-in' });
    else loaded(true, 'built-in', addPayloads(sim, payloads));
  },
  urdf({ text, source, tip, payloads }) {
    // A file that is refused leaves the arm as it was.
    const trial = new engine.Simulation();
    const ok = trial.loadUrdf(text, source, tip || '');
    if (!ok) {
      post('refused', { error: trial.error(), what: source });
      trial.delete();
      return;
    }
    sim.delete();
    sim = trial;
    urdfText = text;
    urdfSource = source;
    loaded(true, source, addPayloads(sim, payloads));
  },
  // The forces held, as velmoth-sim's --force options; the problem when one is refused.
  forces({ text }) {
    const problem = sim.setForces(text);
    post('forces', { forces: sim.forces(), problem });
  },
  // The mouse's pull: taken on a link's point, the cursor's point, the wheel, the release.
  pullStart({ link, point, target }) {
    if (sim.startPull(link, point, target)) pulled();
  },
  pullMove({ target }) {
    sim.movePull(target);
    pulled();
  },
  pullWheel({ steps }) {
    sim.wheelPull(steps);
    pulled();
  },
  pullRelease() {
    sim.releasePull();
    pulled();
  },
  // "Forward Dynamics", "Inverse Dynamics".
  mode({ inverse }) {
    sim.setInverse(inverse);
  },
  // "Set Torque", "Set Accel.": the field's text ({text, written}).
  torque({ field }) {
    sim.setTorque(vectorOf(field, sim.jointCount()));
    post('inputs', { torque: sim.torque(), torqueText: engine.vectorText(sim.torque()) });
  },
  accel({ field }) {
    sim.setAccel(vectorOf(field, sim.jointCount()));
    post('inputs', { accel: sim.accel(), accelText: engine.vectorText(sim.accel()) });
  },
  // "Set": the coefficients and gravity; a coefficient typed makes the panel's every joint's.
  parameters({ viscous, coulomb, gravity, edited }) {
    const coefficient = (f) =>
      f.written !== undefined && f.written !== null ? f.written : engine.readCoefficient(f.text);
    if (edited) sim.setFrictionSource('uniform');
    sim.setParameters(coefficient(viscous), coefficient(coulomb), vectorOf(gravity, 3));
    post('options', { options: options() });
  },
  step({ engine: e, integrator, substeps, tolerance }) {
    sim.setStep(e, integrator, substeps, tolerance);
    post('options', { options: options() });
  },
  physics({ limits, friction, efforts }) {
    let notice = '';
    if (limits !== undefined) notice = sim.setLimits(limits);
    if (friction !== undefined) sim.setFrictionSource(friction);
    if (efforts !== undefined) sim.setEffortLimits(efforts);
    post('options', { options: options(), notice, state: sim.state(), poses: sim.poses() });
  },
  reset() {
    posed(sim.reset());
  },
  // The teach panel, paused: the arm put in the pose q at rest, as Reset puts it at zero.
  pose({ q }) {
    posed(sim.setPose(q));
  },
  // The controller panel's "Apply": velmoth-sim's options; the problem when they are refused.
  controller({ options, tool }) {
    const problem = sim.setController(options);
    if (!problem) toolFrame = tool || '';
    post('control', { control: control(), problem, tool: sim.toolText(toolFrame) });
  },
  // The teach panel, running with a law that follows a target: the target.
  target({ target }) {
    sim.setTarget(target);
    post('control', { control: control(), taught: true, tool: sim.toolText(toolFrame) });
  },
  // The tool's position at the pose q, for task-pd's target.
  toolTarget({ q }) {
    sim.setTarget(sim.toolPosition(q, sim.control().frame));
    post('control', { control: control(), taught: true, tool: sim.toolText(toolFrame) });
  },
  pause() {
    if (pacer.paused()) pacer.resume(now());
    else pacer.pause(now());
    clockChanged();
  },
  run() {
    if (pacer.paused()) pacer.resume(now());
    clockChanged();
  },
  stepOnce() {
    if (!pacer.paused()) pacer.pause(now());
    pacer.step();
    clockChanged();
  },
  slowdown({ slowdown }) {
    pacer.setSlowdown(slowdown, now());
    clockChanged();
  },
  shown({ serial: s }) {
    shown = Math.max(shown, s);
  },
  // A recording starts the step afresh, as velmoth-sim's run starts, counts its own ticks, and
  // writes its replay (named for the recording `name`).
  record({ on, balance, name }) {
    if (on) {
      sim.startReplay(name, urdfSource);
      recording = { rows: [sim.csvHeader(!!balance)], ticks: 0, balance: !!balance };
      post('recording', { on: true });
    } else if (recording) {
      const text = recording.rows.join('');
      const ticks = recording.ticks;
      recording = null;
      post('recording', { on: false, text, ticks, replay: sim.stopReplay() });
    }
  },
};

// Messages that come before the engine is ready wait for it.
const early = [];
function handle(message) {
  const handler = handlers[message.type];
  if (!handler) return;
  try {
    handler(message);
  } catch (error) {
    post('failure', { error: String(error && error.message ? error.message : error) });
  }
}
self.onmessage = (event) => (sim ? handle(event.data) : early.push(event.data));

VelmothEngine({ locateFile: (file) => '../engine/' + file }).then((module) => {
  engine = module;
  sim = new engine.Simulation();
  pacer = new engine.Pacer(kPeriodMs);
  pacer.start(now());
  post('arm', { arm: armInfo(), notices: [], what: 'built-in' });
  for (const message of early.splice(0)) handle(message);
  schedule();
});
