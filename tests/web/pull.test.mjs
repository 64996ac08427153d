// The mouse's pull in the built page in headless Chromium: Ctrl and a left drag on a link pull it
// (the recording of the drag equals velmoth-sim's replay of it, and the arm leaves the path it
// takes without the pull at the tick that carries the pull), paused it moves nothing, on empty
// space it does nothing, and without Ctrl the drag still turns the view.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { openMoving, session } from './chromium.mjs';
import { replayed, simRun } from './node_engine.mjs';

let page, errors;
const s = session(async (opened) => {
  ({ page, errors } = opened);
  await openMoving(page, opened.url);
});

// F6 steps while the mouse may be pulling.
const f6 = () => page.keyboard.press('F6');
const view = (what) => page.evaluate(`window.velmoth.view.${what}`);
const angles = () => page.$eval('#angles', (e) => e.value);

test('a Ctrl drag on a link pulls it: recorded, replayed by velmoth-sim, the arm moved', async () => {
  await s.resetAndStep();
  const { csv, replay } = await s.record(async () => {
    await s.step(3, f6);
    // Link 4's housing, at its joint: where it is on the screen, in the page's pixels.
    const at = await page.evaluate(async () => {
      const { view } = window.velmoth;
      const THREE = await import('three');
      view.place();
      const v = new THREE.Vector3().applyMatrix4(view.links[4].matrix);
      view.world.localToWorld(v).project(view.camera);
      const r = view.canvas.getBoundingClientRect();
      return { x: r.left + ((v.x + 1) / 2) * r.width, y: r.top + ((1 - v.y) / 2) * r.height };
    });
    await page.keyboard.down('Control');
    await page.mouse.move(at.x, at.y);
    await page.mouse.down();
    await page.mouse.move(at.x + 60, at.y - 40, { steps: 4 });
    await page.keyboard.up('Control');
    await s.until(() => window.velmoth.run.pull);
    const pull = await s.run('pull');
    assert.equal(pull.name, 'link4');
    assert.ok(pull.newtons > 0, JSON.stringify(pull));
    // Paused, the pull stands and nothing moves.
    const [q, shown] = [await angles(), await s.run('shownTicks')];
    await page.mouse.move(at.x + 80, at.y - 40);
    await s.until((x) => window.velmoth.run.pull.target[0] !== x, pull.target[0]);
    assert.equal(await s.run('shownTicks'), shown);
    assert.equal(await angles(), q);
    await s.untilText('status', /Pulling link4: [\d.]+ N \([\d.]+ N\/m; the wheel changes it\)/);
    // The wheel while pulling stiffens the spring and does not zoom.
    const eye = await view('eye.toArray()');
    await page.mouse.wheel({ deltaY: -100 });
    await s.until((k) => window.velmoth.run.pull.stiffness > k, pull.stiffness);
    assert.deepEqual(await view('eye.toArray()'), eye);
    await s.step(20, f6);
    await page.mouse.up();
    await s.until(() => !window.velmoth.run.pull);
    await s.step(5, f6);
  });
  assert.equal(replayed(replay), csv);
  // The arm as it falls without the pull: the same rows until the pull's tick, then others.
  const alone = simRun(['--ticks', '28']).split('\n');
  const rows = csv.split('\n');
  const from = Number(replay.match(/^(\d+) pull 4, /m)[1]);
  assert.match(replay, /^\d+ release$/m);
  assert.deepEqual(rows.slice(0, from + 1), alone.slice(0, from + 1));
  assert.notEqual(rows[from + 1], alone[from + 1]);
  assert.deepEqual(errors, []);
});

test('a Ctrl drag on empty space does nothing; a drag without Ctrl turns the view', async () => {
  await s.resetAndStep();
  const box = await page.$eval('#view', (e) => e.getBoundingClientRect().toJSON());
  const spin = await view('spin');
  const drag = async (from, to) => {
    await page.mouse.move(box.left + from[0], box.top + from[1]);
    await page.mouse.down();
    await page.mouse.move(box.left + to[0], box.top + to[1], { steps: 4 });
    await page.mouse.up();
  };
  // The top left corner shows the background.
  await page.keyboard.down('Control');
  await drag([5, 5], [85, 45]);
  await page.keyboard.up('Control');
  assert.equal(await view('spin'), spin);
  // A pull would have been answered by now: a tick stepped shows none.
  await s.step(1, f6);
  assert.equal(await s.run('pull'), null);
  await drag([200, 200], [272, 200]);
  assert.equal(await view('spin'), spin + 20);
  assert.equal(await s.run('pull'), null);
  assert.deepEqual(errors, []);
});
