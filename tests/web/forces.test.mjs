// The page's forces under Node against velmoth-sim: forces held (--force), payloads (--payload),
// and a recording with the mouse's pull and forces changed midway, repeated by its replay.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import {
  replayed,
  root,
  sameRows,
  sameRuns,
  simSays,
  ticker,
  withArm,
  words,
} from './node_engine.mjs';

const puma = path.join(root, 'examples/puma560.urdf');
const scara = path.join(root, 'examples/scara.urdf');
const recursive = (integrator, substeps) => ({ engine: 'recursive', integrator, substeps });

// 500 ticks of each.
const held = [
  { force: ['tool:0,0,-20'] },
  { force: ['link2:3,0,1@0,0.1,0', 'tool:0,-4,0@0.05,0,0'], ...recursive('rk4', 2) },
  { urdf: puma, force: ['link3:5,0,0@0,0.1,0'], payload: ['tool:2@0,0,0.05'] },
  { urdf: puma, payload: ['link3:1.5@0,0.1,0'], control: ['--controller', 'gravity'] },
  { urdf: puma, payload: ['tool:2', 'link2:0.5@0.1,0,0'], ...recursive('dopri5') },
  { urdf: scara, force: ['quill:2,1,0'], ...recursive('implicit') },
].map((c) => ({ ticks: 500, ...c }));
test('forces held and payloads are velmoth-sim run --force --payload byte for byte', (t) =>
  sameRuns(t, held));

test("forces and payloads are refused with velmoth-sim's reasons, nothing changed", async (t) => {
  for (const option of [
    '--force nope:1,2,3',
    '--force tool:1,2',
    '--force tool:1,2,nan',
    '--payload base:1',
    '--payload tool:-1',
    '--payload tool:1@0,0',
  ]) {
    await t.test(option, () =>
      withArm({}, (s) => {
        const [flag, text] = words(option);
        assert.equal(s.setForces('tool:0,0,1'), '');
        const problem = flag === '--force' ? s.setForces(text) : s.addPayload(text);
        const cli = simSays(['--ticks', '1', flag, text]);
        assert.equal(cli.status, 2);
        assert.equal(`velmoth-sim: ${problem}\n`, cli.stderr);
        assert.deepEqual(s.forces(), ['tool:0,0,1@0,0,0']);
        assert.deepEqual(s.payloads(), []);
      }),
    );
  }
});

test('a recording with pulls, the wheel, forces and a payload is repeated by its replay', () => {
  for (const urdf of [undefined, puma]) {
    withArm({ urdf, payload: urdf ? ['tool:0.5@0,0.05,0'] : [] }, (s) => {
      // A force held from before the recording, a pull that starts with it.
      assert.equal(s.setForces('link2:0,0,3@0,0.1,0'), '');
      ticker(s)(10);
      s.startReplay('pull.csv', urdf ?? '');
      const next = ticker(s);
      assert.ok(s.startPull(s.jointCount() - 1, [0, 0.1, 0.03], [0.2, 1, 0.5]));
      // The cursor moves each tick, then stands still, the wheel turns, the pull lets go.
      let out = s.csvHeader(false) + next(60, (k) => s.movePull([0.2, 1, 0.5 + 0.01 * k]));
      out += next(20);
      s.wheelPull(3);
      out += next(20);
      s.releasePull();
      out += next(20);
      assert.equal(s.setForces(''), '');
      // A second pull, on another link; a pull taken and let go between two ticks leaves no line.
      assert.ok(s.startPull(1, [0.05, 0, 0], [0, 0, 1]));
      out += next(30, (k) => s.movePull([0.01 * (k - 120), 0, 1]));
      s.releasePull();
      s.startPull(1, [0, 0, 0], [0, 0, 0]);
      s.releasePull();
      out += next(10);
      const replay = s.stopReplay();
      sameRows(replayed(replay), out, `the replay of ${urdf ?? 'built-in'}`);
      for (const line of ['forces --force', ' pull ', ' cursor ', ' release'])
        assert.ok(replay.includes(line), `${line} in\n${replay}`);
      if (urdf) assert.match(replay, /^arm --payload tool:0\.5@0,0\.05,0$/m);
    });
  }
});

test("the pull's gains, scaled by the arm's mass and the wheel as the window's", () =>
  withArm({}, (s) => {
    assert.equal(s.startPull(-1, [0, 0, 0], [0, 0, 0]), false);
    assert.equal(s.startPull(6, [0, 0, 0], [0, 0, 0]), false);
    assert.equal(s.startPull(2, [0, NaN, 0], [0, 0, 0]), false);
    assert.equal(s.pullState(), null);
    assert.ok(s.startPull(5, [0, 0, 0.1], [0, 0, 0]));
    // At its own point at rest the spring pulls with nothing.
    s.movePull(s.pullState().point);
    assert.equal(s.pullState().newtons, 0);
    assert.equal(s.pullState().name, 'link5');
    // Clamped to 1/16 to 16 times the default, and kept for the pulls that follow.
    const scales = [1, 1, -2, 20, -40].map((steps) => (s.wheelPull(steps), s.pullScale()));
    [Math.SQRT2, 2, 1, 16, 1 / 16].forEach((want, i) =>
      assert.ok(Math.abs(scales[i] / want - 1) < 1e-12, `${scales[i]} for ${want}`),
    );
    s.wheelPull(4); // 1/16 * 4: a quarter
    // The gains the ticks take, as the replay writes them: k = 100 m s, c = 5 m sqrt(s) and the
    // largest force 20 m for the arm's mass m at the wheel's scale s.
    s.startReplay('gains.csv', '');
    s.movePull([100, 100, 100]);
    s.tick();
    const line = s
      .stopReplay()
      .match(/^0 pull (.*)$/m)[1]
      .split(', ')
      .map(Number);
    const [k, c, f] = line.slice(4);
    assert.ok(Math.abs(k / f - 1.25) < 1e-12 && Math.abs(c / f - 0.125) < 1e-12, line.join());
    // Far from the cursor the spring pulls with the largest force.
    assert.ok(Math.abs(s.pullState().newtons / f - 1) < 1e-12);
    s.releasePull();
    assert.equal(s.pullState(), null);
  }));
