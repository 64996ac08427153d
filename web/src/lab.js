// The control lab, as the window's side panel: the controller's fields, read by the engine as
// velmoth-sim reads its options, and the teach panel, a slider per joint that moves with the tool
// frame's position and roll-pitch-yaw read out. Paused, or with a law that follows no target, a
// slider puts the arm in that pose at rest (as Reset does); running with a law that follows a
// target, the sliders set the target.

const $ = (id) => document.getElementById(id);

const kLaws = ['torque', 'gravity', 'pd', 'computed-torque', 'task-pd'];
const kTrajectories = ['step', 'quintic', 'trapezoid', 'sine'];
const kRates = ['continuous', ...Array.from({ length: 10 }, (_, k) => String(100 * (k + 1)))];
// Slider steps per degree and per millimetre; a joint without limits turns +-180 degrees or
// slides +-1 m.
const kStepsPerUnit = 10;
const kDegrees = 180 / Math.PI;
const kFreeTurn = Math.PI;
const kFreeSlide = 1;
const kSlides = 2;

// The fields, the options they give and which laws take them.
const kFields = [
  ['ctlTarget', '--target', 'target'],
  ['ctlTrajectory', '--trajectory', 'target'],
  ['ctlDuration', '--duration', 'duration'],
  ['ctlAmplitude', '--amplitude', 'sine'],
  ['ctlPeriod', '--period', 'sine'],
  ['ctlFrequency', '--frequency', 'target'],
  ['ctlKp', '--kp', 'target'],
  ['ctlKd', '--kd', 'target'],
  ['ctlKn', '--kn', 'task'],
  ['ctlRate', '--control-rate', 'rate'],
  ['ctlMassError', '--model-mass-error', 'rate'],
];

// Whether the law (and its trajectory) takes the fields of a group.
function takes(law, trajectory, group) {
  const tracks = law === 'pd' || law === 'computed-torque' || law === 'task-pd';
  switch (group) {
    case 'target':
      return tracks;
    case 'duration':
      return tracks && (trajectory === 'quintic' || trajectory === 'trapezoid');
    case 'sine':
      return tracks && trajectory === 'sine';
    case 'task':
      return law === 'task-pd';
    case 'rate':
      return law !== 'torque';
    case 'compensation':
      return law === 'pd' || law === 'task-pd';
    case 'friction':
      return law === 'computed-torque';
  }
  return false;
}

// "12.3°", "45.0 mm", without a negative zero.
function valueText(v, slides) {
  const shown = (x) => {
    const r = Math.round(x * 10) / 10;
    return (r === 0 ? 0 : r).toFixed(1);
  };
  return slides ? `${shown(v * 1000)} mm` : `${shown(v * kDegrees)}\u00b0`;
}

export class Lab {
  // post(type, data) sends to the worker; running() says whether the run is running.
  constructor(post, running) {
    this.post = post;
    this.running = running;
    this.control = { kind: 'torque', tracks: false, target: [], from: [] };
    this.joints = [];
    this.q = [];
    // The target as the teach panel set it: its text in the field and the exact numbers.
    this.writtenTarget = null;
    for (const law of kLaws) $('ctlController').add(new Option(law, law));
    for (const t of kTrajectories) $('ctlTrajectory').add(new Option(t, t));
    for (const r of kRates) $('ctlRate').add(new Option(r, r));
    $('ctlTrajectory').value = 'quintic';
    for (const id of ['ctlController', 'ctlTrajectory'])
      $(id).addEventListener('change', () => this.showFields());
    $('ctlApply').addEventListener('click', () => this.apply());
    this.showFields();
  }

  setArm(arm) {
    this.arm = arm;
    this.q = arm.state.q;
    const tool = $('ctlTool');
    tool.replaceChildren(...arm.frames.map((f) => new Option(f, f)));
    if (arm.frames.length > 0) tool.value = arm.frames[arm.frames.length - 1];
    $('ctlTarget').value = '';
    this.writtenTarget = null;
    this.joints = [];
    const rows = [];
    arm.motions.forEach((motion, i) => {
      if (motion === 0) return;
      const slides = motion === kSlides;
      const scale = (slides ? 1000 : kDegrees) * kStepsPerUnit;
      const free = (slides ? kFreeSlide : kFreeTurn) * scale;
      const lo = arm.lower[i];
      const hi = arm.upper[i];
      let min = Math.ceil(Number.isFinite(lo) ? lo * scale : -free);
      let max = Math.floor(Number.isFinite(hi) ? hi * scale : free);
      if (max < min) min = max = Math.round(0.5 * (lo + hi) * scale);
      const slider = document.createElement('input');
      slider.type = 'range';
      slider.min = min;
      slider.max = max;
      slider.step = 1;
      slider.id = `teach${i}`;
      const value = document.createElement('span');
      const label = document.createElement('label');
      label.append(arm.names[i], slider, value);
      rows.push(label);
      const joint = { index: i, slides, scale, slider, value, text: '' };
      slider.addEventListener('input', () => this.moved(joint));
      this.joints.push(joint);
    });
    $('teach').replaceChildren(...rows);
    this.showControl(arm.control, '');
    this.showPose(arm.state.q, arm.tool);
  }

  showFields() {
    const law = $('ctlController').value;
    const trajectory = $('ctlTrajectory').value;
    for (const label of document.querySelectorAll('#control [data-takes]'))
      label.hidden = !takes(law, trajectory, label.dataset.takes);
  }

  // The options of the fields, as velmoth-sim takes them: every field the law takes that is not
  // empty. A target left as the teach panel wrote it gives its exact numbers.
  options() {
    const law = $('ctlController').value;
    const trajectory = $('ctlTrajectory').value;
    const out = ['--controller', law];
    for (const [id, option, group] of kFields) {
      if (!takes(law, trajectory, group)) continue;
      let text = $(id).value.trim();
      if (id === 'ctlTarget' && this.writtenTarget && this.writtenTarget.text === text)
        text = this.writtenTarget.values.map(String).join(', ');
      if (text !== '' && !(id === 'ctlRate' && text === 'continuous')) out.push(option, text);
    }
    if (takes(law, trajectory, 'compensation') && !$('ctlCompensation').checked)
      out.push('--compensation', 'off');
    if (takes(law, trajectory, 'friction') && !$('ctlModelFriction').checked)
      out.push('--model-friction', 'off');
    if (law === 'task-pd' && this.arm && $('ctlTool').value !== this.arm.frames.at(-1))
      out.push('--tool', $('ctlTool').value);
    return out;
  }

  apply() {
    this.post('controller', { options: this.options(), tool: $('ctlTool').value });
  }

  // The controller in force, or the problem that kept the fields from being taken; a target the
  // teach panel set is written into the target field, in the panel's vector format.
  showControl(control, problem, taught) {
    this.control = control;
    if (taught) {
      this.writtenTarget = { text: control.targetText, values: control.target };
      $('ctlTarget').value = control.targetText;
    }
    $('ctlStatus').textContent = problem ? problem : control.text;
    const shorten = (values) => (values || []).map((v) => Number(v.toPrecision(3))).join(', ');
    $('ctlKp').placeholder = shorten(control.kp);
    $('ctlKd').placeholder = shorten(control.kd);
    $('ctlKn').placeholder = shorten(control.kn);
    $('ctlTarget').placeholder =
      control.kind === 'task-pd' ? 'x, y, z: where the tool is' : 'the pose the arm is in';
    $('ctlDuration').placeholder = 'from the distance';
    this.showPose(this.q);
  }

  // Whether the sliders set a joint law's target now, rather than the pose.
  setsJointTarget() {
    return this.running() && this.control.tracks && this.control.kind !== 'task-pd';
  }
  jointTarget() {
    const n = this.q.length;
    if (this.control.target.length === n) return this.control.target;
    return this.control.from.length === n ? this.control.from : this.q;
  }

  // The arm's pose after a tick: the sliders and their values, the tool's readout.
  showPose(q, tool) {
    this.q = q;
    if (tool !== undefined && tool !== this.toolText) {
      this.toolText = tool;
      $('tool').textContent = tool;
    }
    const targets = this.setsJointTarget();
    const shown = targets ? this.jointTarget() : q;
    for (const joint of this.joints) {
      if (document.activeElement !== joint.slider) {
        const position = Math.round(shown[joint.index] * joint.scale);
        if (String(position) !== joint.slider.value) joint.slider.value = position;
      }
      const at = valueText(q[joint.index], joint.slides);
      const text = targets ? `${valueText(shown[joint.index], joint.slides)} (at ${at})` : at;
      if (text !== joint.text) {
        joint.text = text;
        joint.value.textContent = text;
      }
    }
  }

  moved(joint) {
    const value = Number(joint.slider.value) / joint.scale;
    const i = joint.index;
    if (!(this.running() && this.control.tracks)) {
      const q = [...this.q];
      q[i] = value;
      this.post('pose', { q });
    } else if (this.control.kind === 'task-pd') {
      const q = [...this.q];
      q[i] = value;
      this.post('toolTarget', { q });
    } else {
      const target = [...this.jointTarget()];
      target[i] = value;
      this.post('target', { target });
    }
  }
}
