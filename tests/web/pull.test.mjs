// The mouse's pull in the built page in headless Chromium: Ctrl and a left drag on a link pull it
// (the recording of the drag equals velmoth-sim's replay of it, and the arm leaves the path it
// takes without the pull at the tick that carries the pull), paused it moves nothing, on empty
// space it does nothing, and without Ctrl the drag still turns the view.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { tmpdir } from 'node:os';
import { openBrowser, openMoving } from './chromium.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pageDir = process.env.VELMOTH_PAGE || path.join(root, 'build/web/page');
const sim = process.env.VELMOTH_SIM || path.join(root, 'build/release/bin/velmoth-sim');

let session, page, url, errors;

before(async () => {
  session = await openBrowser(pageDir);
  ({ page, url, errors } = session);
  await openMoving(page, url);
});

after(async () => {
  await session?.close();
});

const run = (what) => page.evaluate(`window.velmoth.run.${what}`);
async function pauseAndReset() {
  if (!(await run('clock.paused'))) {
    await page.click('#run');
    await page.waitForFunction(() => window.velmoth.run.clock.paused);
  }
  await page.click('#reset');
  await page.waitForFunction(() => window.velmoth.run.pending.length === 0);
}
// Steps once with F6 (the mouse may be pulling) and waits for the tick it asked for.
async function step() {
  const before = await run('shownTicks');
  await page.keyboard.press('F6');
  await page.waitForFunction((n) => window.velmoth.run.shownTicks > n, { timeout: 20000 }, before);
}
// Where link k's point p (its frame) is on the screen, in the page's pixels.
const onScreen = (k, p) =>
  page.evaluate(
    async (k, p) => {
      const { view } = window.velmoth;
      const THREE = await import('three');
      view.place();
      const v = new THREE.Vector3(...p).applyMatrix4(view.links[k].matrix);
      view.world.localToWorld(v).project(view.camera);
      const r = view.canvas.getBoundingClientRect();
      return { x: r.left + ((v.x + 1) / 2) * r.width, y: r.top + ((1 - v.y) / 2) * r.height };
    },
    k,
    p,
  );

test('a Ctrl drag on a link pulls it: recorded, replayed by velmoth-sim, the arm moved', async () => {
  await pauseAndReset();
  await page.click('#record');
  await page.waitForFunction(() => window.velmoth.run.recording);
  for (let k = 0; k < 3; ++k) await step();
  // Link 4's housing, at its joint.
  const at = await onScreen(4, [0, 0, 0]);
  await page.keyboard.down('Control');
  await page.mouse.move(at.x, at.y);
  await page.mouse.down();
  await page.mouse.move(at.x + 60, at.y - 40, { steps: 4 });
  await page.keyboard.up('Control');
  await page.waitForFunction(() => window.velmoth.run.pull);
  const pull = await run('pull');
  assert.equal(pull.name, 'link4');
  assert.ok(pull.newtons > 0, JSON.stringify(pull));
  // Paused, the pull stands and nothing moves.
  const angles = await page.$eval('#angles', (e) => e.value);
  const shown = await run('shownTicks');
  await page.mouse.move(at.x + 80, at.y - 40);
  await page.waitForFunction((x) => window.velmoth.run.pull.target[0] !== x, {}, pull.target[0]);
  assert.equal(await run('shownTicks'), shown);
  assert.equal(await page.$eval('#angles', (e) => e.value), angles);
  await page.waitForFunction(() =>
    /Pulling link4: [\d.]+ N \([\d.]+ N\/m; the wheel changes it\)/.test(
      document.getElementById('status').textContent,
    ),
  );
  // The wheel while pulling stiffens the spring and does not zoom.
  const eye = await page.evaluate(() => window.velmoth.view.eye.toArray());
  await page.mouse.wheel({ deltaY: -100 });
  await page.waitForFunction((k) => window.velmoth.run.pull.stiffness > k, {}, pull.stiffness);
  assert.deepEqual(await page.evaluate(() => window.velmoth.view.eye.toArray()), eye);
  for (let k = 0; k < 20; ++k) await step();
  await page.mouse.up();
  await page.waitForFunction(() => !window.velmoth.run.pull);
  for (let k = 0; k < 5; ++k) await step();
  await page.click('#record');
  await page.waitForFunction(() => window.velmothLastRecording);
  const { csv, replay } = await page.evaluate(() => window.velmothLastRecording);

  const dir = mkdtempSync(path.join(tmpdir(), 'velmoth-pull-'));
  try {
    writeFileSync(path.join(dir, 'pull.csv.replay'), replay);
    const replayed = execFileSync(sim, ['run', '--replay', path.join(dir, 'pull.csv.replay')], {
      encoding: 'utf8',
    });
    assert.equal(replayed, csv);
    // The arm as it falls without the pull: the same rows until the pull's tick, then others.
    const alone = execFileSync(sim, ['run', '--ticks', '28'], { encoding: 'utf8' }).split('\n');
    const rows = csv.split('\n');
    const from = Number(replay.match(/^(\d+) pull 4, /m)[1]);
    assert.ok(/^\d+ release$/m.test(replay), replay);
    assert.deepEqual(rows.slice(0, from + 1), alone.slice(0, from + 1));
    assert.notEqual(rows[from + 1], alone[from + 1]);
  } finally {
    rmSync(dir, { recursive: true });
  }
  assert.deepEqual(errors, []);
});

test('a Ctrl drag on empty space does nothing; a drag without Ctrl turns the view', async () => {
  await pauseAndReset();
  const box = await page.$eval('#view', (e) => e.getBoundingClientRect().toJSON());
  const spin = await page.evaluate(() => window.velmoth.view.spin);
  // The top left corner shows the background.
  await page.keyboard.down('Control');
  await page.mouse.move(box.left + 5, box.top + 5);
  await page.mouse.down();
  await page.mouse.move(box.left + 85, box.top + 45, { steps: 4 });
  await page.mouse.up();
  await page.keyboard.up('Control');
  assert.equal(await page.evaluate(() => window.velmoth.view.spin), spin);
  // A pull would have been answered by now: a tick stepped shows none.
  await step();
  assert.equal(await run('pull'), null);
  await page.mouse.move(box.left + 200, box.top + 200);
  await page.mouse.down();
  await page.mouse.move(box.left + 272, box.top + 200, { steps: 4 });
  await page.mouse.up();
  assert.equal(await page.evaluate(() => window.velmoth.view.spin), spin + 20);
  assert.equal(await run('pull'), null);
  assert.deepEqual(errors, []);
});
