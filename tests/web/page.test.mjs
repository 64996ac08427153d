// The built page in headless Chromium (Debian's), driven by puppeteer-core: it opens with the
// built-in arm moving, its buttons and fields act as the window's, its panel shows velmoth-sim's
// numbers for the same ticks, a recording equals velmoth-sim's run byte for byte, an arm opened
// with its mesh folder shows its meshes, and the view shows the arm. Screenshots go to
// build/web/screenshots. VELMOTH_PAGE names the built page (default build/web/page).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { cpSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { tmpdir } from 'node:os';
import { openBrowser, openMoving } from './chromium.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pageDir = process.env.VELMOTH_PAGE || path.join(root, 'build/web/page');
const sim = process.env.VELMOTH_SIM || path.join(root, 'build/release/bin/velmoth-sim');
const shots = path.join(root, 'build/web/screenshots');
const require = createRequire(path.join(root, 'web/package.json'));
const factory = require(path.join(pageDir, 'engine/velmoth_engine.js'));
const engine = await factory({
  wasmBinary: readFileSync(path.join(pageDir, 'engine/velmoth_engine.wasm')),
});

let session, page, url, errors;

before(async () => {
  mkdirSync(shots, { recursive: true });
  session = await openBrowser(pageDir);
  ({ page, url, errors } = session);
});

after(async () => {
  await session?.close();
});

const shown = () => page.evaluate(() => window.velmoth.run.shownTicks);
// Waits until the page has shown the tick after `count` ticks shown.
const waitShown = (count) =>
  page.waitForFunction((n) => window.velmoth.run.shownTicks >= n, { timeout: 20000 }, count);
const clock = () => page.evaluate(() => window.velmoth.run.clock);
const value = (id) => page.$eval('#' + id, (e) => e.value);

async function type(id, text) {
  await page.click('#' + id, { clickCount: 3 });
  await page.keyboard.press('Backspace');
  await page.type('#' + id, text);
}

// Pauses the run (waiting for the worker to say so), resets the arm and steps it `ticks` times,
// each step waiting for the tick it asked for.
async function resetAndStep(ticks) {
  if (!(await clock()).paused) {
    await page.click('#run');
    await page.waitForFunction(() => window.velmoth.run.clock.paused);
  }
  await page.click('#reset');
  await page.waitForFunction(() => window.velmoth.run.pending.length === 0);
  for (let k = 0; k < ticks; ++k) {
    const before = await shown();
    await page.click('#step');
    await waitShown(before + 1);
  }
}

// The panel's texts of velmoth-sim's last row, in the panel's formats.
function panelOf(csv, n) {
  const rows = csv.trim().split('\n');
  const x = rows[rows.length - 1].split(',').map(Number);
  const q = x.slice(2, 2 + n);
  const qdd = x.slice(2 + 2 * n, 2 + 3 * n);
  const [kinetic, potential] = x.slice(2 + 4 * n, 4 + 4 * n);
  return {
    angles: engine.vectorText(q),
    accel: engine.vectorText(qdd),
    kinetic: engine.numberText(kinetic),
    potential: engine.numberText(potential),
    total: engine.numberText(kinetic + potential),
  };
}

async function panel() {
  const out = {};
  for (const id of ['angles', 'accel', 'kinetic', 'potential', 'total']) out[id] = await value(id);
  return out;
}

const runSim = (args) =>
  execFileSync(sim, ['run', ...args], {
    encoding: 'utf8',
    stdio: ['ignore', 'pipe', 'ignore'],
  });

test('the page opens with the built-in arm moving', async (t) => {
  const ms = await openMoving(page, url);
  t.diagnostic(`the built-in arm moved ${ms} ms after the page was asked for`);
  assert.match(await value('kinetic'), /^\d+\.\d{3}$/);
  assert.deepEqual(errors, []);
});

test("the panel shows velmoth-sim's numbers for the same ticks", async () => {
  await resetAndStep(5);
  assert.deepEqual(await panel(), panelOf(runSim(['--ticks', '5']), 6));
  // Typed inputs: torques, then the coefficients with "Set", then the same ticks again.
  await type('torque', '1, -0.5, 0.25');
  await page.click('#setTorque');
  await type('viscous', '0.2');
  await type('coulomb', '0');
  await page.click('#set');
  await resetAndStep(7);
  assert.deepEqual(
    await panel(),
    panelOf(
      runSim(['--ticks', '7', '--torque=1, -0.5, 0.25', '--viscous', '0.2', '--coulomb', '0']),
      6,
    ),
  );
  // Inverse mode: the torques field shows the torques of the accelerations typed.
  await page.click('#inverse');
  await type('accel', '0.3, -0.2, 0.1');
  await page.click('#setAccel');
  await resetAndStep(4);
  const csv = runSim([
    '--ticks',
    '4',
    '--mode',
    'inverse',
    '--accel=0.3, -0.2, 0.1',
    '--viscous',
    '0.2',
    '--coulomb',
    '0',
  ]);
  const row = csv.trim().split('\n').pop().split(',').map(Number);
  assert.equal(await value('torque'), engine.vectorText(row.slice(20, 26)));
  await page.click('#forward');
});

test("a recording is velmoth-sim's run byte for byte", async (t) => {
  await page.select('#sample', 'scara.urdf');
  await page.waitForFunction(
    () => window.velmoth.run.arm && window.velmoth.run.arm.name === 'scara',
  );
  await resetAndStep(0);
  await page.click('#record');
  await page.waitForFunction(() => window.velmoth.run.recording);
  const before = await shown();
  await page.click('#run');
  await waitShown(before + 150);
  await page.click('#run');
  await page.waitForFunction(() => window.velmoth.run.clock.paused);
  await page.click('#record');
  await page.waitForFunction(() => !window.velmoth.run.recording);
  const recorded = await page.evaluate(() => window.velmothLastRecording.csv);
  const ticks = recorded.trim().split('\n').length - 1;
  assert.ok(ticks >= 150);
  assert.equal(
    recorded,
    runSim(['--urdf', path.join(root, 'examples/scara.urdf'), '--ticks', String(ticks)]),
  );
  t.diagnostic(`${ticks} ticks recorded`);
});

test('a recording whose inputs change midway is repeated by velmoth-sim from its replay', async () => {
  await page.select('#sample', 'built-in');
  await page.waitForFunction(() => window.velmoth.run.arm && !window.velmoth.run.arm.fromFile);
  await resetAndStep(3);
  await page.click('#record');
  await page.waitForFunction(() => window.velmoth.run.recording);
  await resetAndStep(20);
  await type('torque', '2, 0, -1');
  await page.click('#setTorque');
  await page.click('#inverse');
  await type('accel', '0.5');
  await page.click('#setAccel');
  for (let k = 0; k < 10; ++k) {
    const before = await shown();
    await page.click('#step');
    await waitShown(before + 1);
  }
  await page.click('#forward');
  await page.select('#integrator', 'rk4');
  await page.waitForFunction(() => window.velmoth.run.options.integrator === 'rk4');
  for (let k = 0; k < 10; ++k) {
    const before = await shown();
    await page.click('#step');
    await waitShown(before + 1);
  }
  await page.click('#record');
  await page.waitForFunction(() => !window.velmoth.run.recording);
  const { csv, replay, name } = await page.evaluate(() => window.velmothLastRecording);
  const dir = mkdtempSync(path.join(tmpdir(), 'velmoth-replay-'));
  try {
    writeFileSync(path.join(dir, name + '.replay'), replay);
    assert.equal(runSim(['--replay', path.join(dir, name + '.replay')]), csv);
    assert.equal(csv.trim().split('\n').length - 1, 40);
  } finally {
    rmSync(dir, { recursive: true });
  }
  await page.select('#integrator', 'euler');
});

test('an arm opened with its mesh folder shows its meshes, and the view shows the arm', async () => {
  // A package whose folder is not called by its name: package.xml names it.
  const dir = mkdtempSync(path.join(tmpdir(), 'velmoth-folder-'));
  const robot = path.join(dir, 'my_robot');
  mkdirSync(path.join(robot, 'urdf'), { recursive: true });
  cpSync(path.join(root, 'examples/industrial6.urdf'), path.join(robot, 'urdf/industrial6.urdf'));
  cpSync(path.join(root, 'examples/package.xml'), path.join(robot, 'package.xml'));
  cpSync(path.join(root, 'examples/meshes'), path.join(robot, 'meshes'), {
    recursive: true,
  });
  try {
    const input = await page.$('#openFolder');
    await input.uploadFile(robot);
    await page.waitForFunction(
      () => window.velmoth.run.arm && window.velmoth.run.arm.name === 'industrial6',
      { timeout: 20000 },
    );
    await page.waitForFunction(() => window.velmoth.view.shapes.length === 7, {
      timeout: 20000,
    });
    assert.doesNotMatch(
      await page.$eval('#notices', (e) => e.textContent),
      /not found|cannot be read/,
    );
    await page.screenshot({ path: path.join(shots, 'industrial6.png') });
  } finally {
    rmSync(dir, { recursive: true });
  }
  // The built-in arm's figure fills part of the view: pixels of its grey housings and bodies.
  await page.select('#sample', 'built-in');
  await page.waitForFunction(() => window.velmoth.run.arm && !window.velmoth.run.arm.fromFile);
  await page.click('#screenshot');
  await page.screenshot({ path: path.join(shots, 'built-in.png') });
  const armPixels = await page.evaluate(() => {
    // Drawn now: the view keeps no copy of its last frame.
    window.velmoth.view.dirty = true;
    window.velmoth.view.draw();
    const source = document.getElementById('view');
    const c = document.createElement('canvas');
    c.width = source.width;
    c.height = source.height;
    const g = c.getContext('2d');
    g.drawImage(source, 0, 0);
    const data = g.getImageData(0, 0, c.width, c.height).data;
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
  await page.waitForFunction(() => document.querySelectorAll('#plots .uplot').length === 2);
  const before = await shown();
  if ((await clock()).paused) await page.click('#run');
  await waitShown(before + 50);
  await page.screenshot({ path: path.join(shots, 'plots.png') });
  await page.click('#plotsToggle');
  // The built-in arm of 40 links under the error-controlled step: a tick of the closed form takes
  // a hundred milliseconds and more (under its own Euler step of one solve a tick it takes a few,
  // and the arm would diverge within seconds).
  await page.goto(url + '?links=40');
  await page.waitForFunction(() => window.velmoth.run.arm && window.velmoth.run.arm.joints === 40, {
    timeout: 20000,
  });
  await page.select('#integrator', 'dopri5');
  await page.waitForFunction(() => window.velmoth.run.options.integrator === 'dopri5');
  await page.waitForFunction(
    () =>
      /real time \d\.\d\d \(each tick takes \d+ ms, not 10 ms\)/.test(
        document.getElementById('status').textContent,
      ),
    {
      timeout: 30000,
    },
  );
});

test('a URDF file dropped on the view is loaded, and one refused says why', async () => {
  const drop = (name, text) =>
    page.evaluate(
      (n, t) => {
        const transfer = new DataTransfer();
        transfer.items.add(new File([t], n));
        document.querySelector('main').dispatchEvent(
          new DragEvent('drop', {
            dataTransfer: transfer,
            bubbles: true,
            cancelable: true,
          }),
        );
      },
      name,
      text,
    );
  await drop(
    'double_pendulum.urdf',
    readFileSync(path.join(root, 'examples/double_pendulum.urdf'), 'utf8'),
  );
  await page.waitForFunction(
    () => window.velmoth.run.arm && window.velmoth.run.arm.name === 'double_pendulum',
  );
  await drop('broken.urdf', '<robot name="x"><link name="a"/>');
  await page.waitForFunction(() =>
    /broken\.urdf: /.test(document.getElementById('notices').textContent),
  );
  // The arm stays as it was.
  assert.equal(await page.evaluate(() => window.velmoth.run.arm.name), 'double_pendulum');
  assert.deepEqual(errors, []);
});

test('the lab: the teach sliders pose the paused arm; computed torque reaches a typed target', async () => {
  await page.select('#sample', 'built-in');
  await page.waitForFunction(
    () => !window.velmoth.run.arm.fromFile && window.velmoth.run.arm.joints === 6,
  );
  await resetAndStep(0);
  await page.click('#labToggle');
  // Paused, a slider puts the arm in its pose at rest: 30 degrees on the second joint.
  await page.$eval('#teach1', (s) => {
    s.value = '300';
    s.dispatchEvent(new Event('input'));
  });
  const q = [0, 300 / ((180 / Math.PI) * 10), 0, 0, 0, 0];
  await page.waitForFunction(
    (text) => document.getElementById('angles').value === text,
    { timeout: 20000 },
    engine.vectorText(q),
  );
  assert.equal(await page.$eval('#teach label:nth-child(2) span', (e) => e.textContent), '30.0°');
  assert.match(await page.$eval('#tool', (e) => e.textContent), /^\S+ {2}x -?\d+\.\d{3} {2}y /);
  // At rest there: the next tick is velmoth-sim's from that pose.
  const before = await shown();
  await page.click('#step');
  await waitShown(before + 1);
  assert.deepEqual(await panel(), panelOf(runSim(['--ticks', '1', '--q0', q.join(', ')]), 6));
  // Computed torque to a typed target along a quintic of 1 s, then run.
  await page.select('#ctlController', 'computed-torque');
  await type('ctlTarget', '0.5, -0.3, 0.2');
  await type('ctlDuration', '1');
  await page.click('#ctlApply');
  await page.waitForFunction(() => window.velmoth.lab.control.kind === 'computed-torque');
  assert.match(await page.$eval('#ctlKp', (e) => e.placeholder), /^100(, 100){5}$/);
  const start = await shown();
  await page.click('#run');
  // The tick 2.5 s on: the arm at the target (the error of the fixed step decayed), the error plotted.
  await waitShown(start + 250);
  const last = await page.evaluate(() => window.velmoth.run.last);
  const target = [0.5, -0.3, 0.2, 0, 0, 0];
  last.q.forEach((v, i) => assert.ok(Math.abs(v - target[i]) < 1e-5, `joint ${i} at ${v}`));
  assert.equal(last.error.length, 6);
  // Running, a slider sets the target.
  await page.$eval('#teach0', (s) => {
    s.value = '-100';
    s.dispatchEvent(new Event('input'));
  });
  await page.waitForFunction(() => window.velmoth.lab.control.target[0] < 0);
  assert.match(await value('ctlTarget'), /^ *-0\.17, /);
  await page.screenshot({ path: path.join(shots, 'lab.png') });
  // Back to the typed torques.
  await page.select('#ctlController', 'torque');
  await page.click('#ctlApply');
  await page.waitForFunction(() => window.velmoth.lab.control.kind === 'torque');
  await page.click('#labToggle');
  assert.deepEqual(errors, []);
});
