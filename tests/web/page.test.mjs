// The built page in headless Chromium (Debian's), driven by puppeteer-core: it opens with the
// built-in arm moving, its buttons and fields act as the window's, its panel shows velmoth-sim's
// numbers for the same ticks, a recording equals velmoth-sim's run byte for byte, an arm opened
// with its mesh folder shows its meshes, and the view shows the arm. Screenshots go to
// VELMOTH_SHOTS (default build/web/screenshots).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { cpSync, mkdirSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { openMoving, pageDir, session } from './chromium.mjs';
import { inTemp, loadEngine, replayed, root, simRun, simSays, words } from './node_engine.mjs';

const shots = process.env.VELMOTH_SHOTS || path.join(root, 'build/web/screenshots');
const engine = await loadEngine(path.join(pageDir, 'engine'));
let page, errors;
const s = session((opened) => {
  ({ page, errors } = opened);
  mkdirSync(shots, { recursive: true });
});

const value = (id) => page.$eval('#' + id, (e) => e.value);
const text = (selector) => page.$eval(selector, (e) => e.textContent);
// Moves the slider id to v, as the mouse does.
const slide = (id, v) =>
  page.$eval(id, (e, v) => Object.assign(e, { value: v }).dispatchEvent(new Event('input')), v);
const shot = (name) => page.screenshot({ path: path.join(shots, name) });
// Types text into the field id in place of its own, then presses the button, if any.
async function enter(id, text, button) {
  await page.click('#' + id, { clickCount: 3 });
  await page.keyboard.press('Backspace');
  await page.type('#' + id, text);
  if (button) await page.click(button);
}
// Waits until the arm shown has the properties of want.
const armIs = (want) =>
  s.until((want) => {
    const arm = window.velmoth.run.arm;
    return arm && Object.entries(want).every(([k, v]) => arm[k] === v);
  }, want);
const choose = async (sample, want) => {
  await page.select('#sample', sample);
  await armIs(want);
};

// The panel's texts; panelOf: those of velmoth-sim's last row for args, in the panel's formats.
const fields = ['angles', 'accel', 'kinetic', 'potential', 'total'];
const panel = async () =>
  Object.fromEntries(await Promise.all(fields.map(async (id) => [id, await value(id)])));
const lastRow = (args) => simRun(args).trim().split('\n').pop().split(',').map(Number);
function panelOf(args, n = 6) {
  const x = lastRow(args);
  const [kinetic, potential] = x.slice(2 + 4 * n, 4 + 4 * n);
  return {
    angles: engine.vectorText(x.slice(2, 2 + n)),
    accel: engine.vectorText(x.slice(2 + 2 * n, 2 + 3 * n)),
    kinetic: engine.numberText(kinetic),
    potential: engine.numberText(potential),
    total: engine.numberText(kinetic + potential),
  };
}

test('the page opens with the built-in arm moving', async (t) => {
  const ms = await openMoving(page, s.url);
  t.diagnostic(`the built-in arm moved ${ms} ms after the page was asked for`);
  assert.match(await value('kinetic'), /^\d+\.\d{3}$/);
  assert.deepEqual(errors, []);
});

test("the panel shows velmoth-sim's numbers for the same ticks", async () => {
  await s.resetAndStep(5);
  assert.deepEqual(await panel(), panelOf(['--ticks', '5']), 'no input');
  // Typed inputs: torques, then the coefficients with "Set", then the same ticks again.
  await enter('torque', '1, -0.5, 0.25', '#setTorque');
  await enter('viscous', '0.2');
  await enter('coulomb', '0', '#set');
  await s.resetAndStep(7);
  const friction = ['--viscous', '0.2', '--coulomb', '0'];
  const typed = ['--ticks', '7', '--torque=1, -0.5, 0.25', ...friction];
  assert.deepEqual(await panel(), panelOf(typed), 'torques and coefficients');
  // Inverse mode: the torques field shows the torques of the accelerations typed.
  await page.click('#inverse');
  await enter('accel', '0.3, -0.2, 0.1', '#setAccel');
  await s.resetAndStep(4);
  const row = lastRow(['--ticks', '4', '--mode', 'inverse', '--accel=0.3, -0.2, 0.1', ...friction]);
  assert.equal(await value('torque'), engine.vectorText(row.slice(20, 26)), 'inverse');
  await page.click('#forward');
});

test("a recording is velmoth-sim's run byte for byte", async (t) => {
  await choose('scara.urdf', { name: 'scara' });
  await s.resetAndStep();
  const { csv } = await s.record(async () => {
    await s.runFor(150);
    await page.click('#run');
    await s.until(() => window.velmoth.run.clock.paused);
  });
  const ticks = csv.trim().split('\n').length - 1;
  assert.ok(ticks >= 150);
  assert.equal(csv, simRun(['--urdf', path.join(root, 'examples/scara.urdf'), `--ticks=${ticks}`]));
  t.diagnostic(`${ticks} ticks recorded`);
});

test('a recording whose inputs change midway is repeated by velmoth-sim from its replay', async () => {
  await choose('built-in', { fromFile: false });
  await s.resetAndStep(3);
  const { csv, replay } = await s.record(async () => {
    await s.resetAndStep(20);
    await enter('torque', '2, 0, -1', '#setTorque');
    await page.click('#inverse');
    await enter('accel', '0.5', '#setAccel');
    await s.step(10);
    await page.click('#forward');
    await page.select('#integrator', 'rk4');
    await s.until(() => window.velmoth.run.options.integrator === 'rk4');
    await s.step(10);
  });
  assert.equal(replayed(replay), csv);
  assert.equal(csv.trim().split('\n').length - 1, 40);
  await page.select('#integrator', 'euler');
});

test('an arm opened with its mesh folder shows its meshes, and the view shows the arm', async () => {
  // A package whose folder is not called by its name: package.xml names it.
  await inTemp(async (dir) => {
    const robot = path.join(dir, 'my_robot');
    const copy = (from, to) =>
      cpSync(path.join(root, 'examples', from), path.join(robot, to), { recursive: true });
    copy('industrial6.urdf', 'urdf/industrial6.urdf');
    copy('package.xml', 'package.xml');
    copy('meshes', 'meshes');
    await (await page.$('#openFolder')).uploadFile(robot);
    await armIs({ name: 'industrial6' });
    await s.until(() => window.velmoth.view.shapes.length === 7);
    assert.doesNotMatch(await text('#notices'), /not found|cannot be read/);
    await shot('industrial6.png');
  });
  // The built-in arm's figure fills part of the view: pixels of its grey housings and bodies.
  await choose('built-in', { fromFile: false });
  await page.click('#screenshot');
  await shot('built-in.png');
  const armPixels = await page.evaluate(() => {
    // Drawn now: the view keeps no copy of its last frame.
    window.velmoth.view.dirty = true;
    window.velmoth.view.draw();
    const source = document.getElementById('view');
    const { width, height } = source;
    const g = Object.assign(document.createElement('canvas'), { width, height }).getContext('2d');
    g.drawImage(source, 0, 0);
    const data = g.getImageData(0, 0, width, height).data;
    let grey = 0;
    for (let i = 0; i < data.length; i += 4) {
      const [r, gg, b] = [data[i], data[i + 1], data[i + 2]];
      if (Math.abs(r - gg) < 12 && Math.abs(gg - b) < 12 && r > 40 && r < 215) ++grey;
    }
    return grey / (data.length / 4);
  });
  assert.ok(armPixels > 0.002, `the arm covers ${armPixels} of the view`);
});

test('the plots draw the run, and the strip says when a tick costs more than 10 ms', async () => {
  await page.click('#plotsToggle');
  await s.until(() => document.querySelectorAll('#plots .uplot').length === 2);
  await s.runFor(50);
  await shot('plots.png');
  await page.click('#plotsToggle');
  // The built-in arm of 40 links under the error-controlled step: a tick of the closed form takes
  // a hundred milliseconds and more (under its own Euler step of one solve a tick it takes a few,
  // and the arm would diverge within seconds).
  await page.goto(s.url + '?links=40');
  await armIs({ joints: 40 });
  await page.select('#integrator', 'dopri5');
  await s.until(() => window.velmoth.run.options.integrator === 'dopri5');
  await s.untilText('status', /real time \d\.\d\d \(each tick takes \d+ ms, not 10 ms\)/, 30000);
});

test('a URDF file dropped on the view is loaded, and one refused says why', async () => {
  const drop = (name, text) =>
    page.evaluate(
      (n, t) => {
        const dataTransfer = new DataTransfer();
        dataTransfer.items.add(new File([t], n));
        const event = new DragEvent('drop', { dataTransfer, bubbles: true, cancelable: true });
        document.querySelector('main').dispatchEvent(event);
      },
      name,
      text,
    );
  const pendulum = readFileSync(path.join(root, 'examples/double_pendulum.urdf'), 'utf8');
  await drop('double_pendulum.urdf', pendulum);
  await armIs({ name: 'double_pendulum' });
  await drop('broken.urdf', '<robot name="x"><link name="a"/>');
  await s.untilText('notices', /broken\.urdf: /);
  // The arm stays as it was.
  assert.equal(await s.run('arm.name'), 'double_pendulum');
  assert.deepEqual(errors, []);
});

test('the lab: the teach sliders pose the paused arm; computed torque reaches a typed target', async () => {
  await choose('built-in', { fromFile: false, joints: 6 });
  await s.resetAndStep();
  await page.click('#labToggle');
  // Paused, a slider puts the arm in its pose at rest: 30 degrees on the second joint.
  await slide('#teach1', '300');
  const q = [0, 300 / ((180 / Math.PI) * 10), 0, 0, 0, 0];
  await s.until((text) => document.getElementById('angles').value === text, engine.vectorText(q));
  assert.equal(await text('#teach label:nth-child(2) span'), '30.0°');
  assert.match(await text('#tool'), /^\S+ {2}x -?\d+\.\d{3} {2}y /);
  // At rest there: the next tick is velmoth-sim's from that pose.
  await s.step();
  assert.deepEqual(await panel(), panelOf(['--ticks', '1', '--q0', q.join(', ')]));
  // Computed torque to a typed target along a quintic of 1 s, then run.
  await page.select('#ctlController', 'computed-torque');
  await enter('ctlTarget', '0.5, -0.3, 0.2');
  await enter('ctlDuration', '1', '#ctlApply');
  await s.until(() => window.velmoth.lab.control.kind === 'computed-torque');
  assert.match(await page.$eval('#ctlKp', (e) => e.placeholder), /^100(, 100){5}$/);
  // The tick 2.5 s on: the arm at the target (the error of the fixed step decayed), the error plotted.
  await s.runFor(250);
  const last = await s.run('last');
  const target = [0.5, -0.3, 0.2, 0, 0, 0];
  last.q.forEach((v, i) => assert.ok(Math.abs(v - target[i]) < 1e-5, `joint ${i} at ${v}`));
  assert.equal(last.error.length, 6);
  // Running, a slider sets the target.
  await slide('#teach0', '-100');
  await s.until(() => window.velmoth.lab.control.target[0] < 0);
  assert.match(await value('ctlTarget'), /^ *-0\.17, /);
  await shot('lab.png');
  // Back to the typed torques.
  await page.select('#ctlController', 'torque');
  await page.click('#ctlApply');
  await s.until(() => window.velmoth.lab.control.kind === 'torque');
  await page.click('#labToggle');
  assert.deepEqual(errors, []);
});

test('a tick that leaves the energy balance off says so in the notices, and the run goes on', async () => {
  // The built-in arm falling from rest under the recursive engine's Euler step: its first tick
  // leaves the balance off, in velmoth-sim's words (the tick counted from the arm's load).
  await page.goto(s.url);
  await armIs({ joints: 6 });
  await page.select('#engine', 'recursive');
  await page.select('#integrator', 'euler');
  await s.until(() => window.velmoth.run.options.integrator === 'euler');
  await s.resetAndStep(1);
  const tickless = (line) => line.replace(/^.*?tick \d+ \(t = [\d.]+ s\) /, '');
  const said = simSays(words('--engine recursive --integrator euler --ticks 1')).stderr.trim();
  const note = await text('#notices');
  assert.match(note, /^tick \d+ \(t = [\d.]+ s\) left the energy balance off by /);
  assert.equal(tickless(note), tickless(said).replace(/; the run goes on$/, ''));
  await s.step();
  assert.equal(await s.run('diverged'), null);
  await page.goto(s.url);
  assert.deepEqual(errors, []);
});
