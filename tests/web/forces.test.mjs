// The page's forces under Node against velmoth-sim: forces held (--force), payloads (--payload),
// and a recording with the mouse's pull and forces changed midway, repeated by its replay.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { engine, root, sameRows, sim, simRun } from './node_engine.mjs';

const puma = path.join(root, 'examples/puma560.urdf');
const scara = path.join(root, 'examples/scara.urdf');

// A simulation of the arm (a file, or the built-in arm) with the payloads added at load.
function arm(urdf, payloads = []) {
  const s = new engine.Simulation();
  assert.ok(urdf ? s.loadUrdf(readFileSync(urdf, 'utf8'), urdf, '') : s.loadBuiltIn(6));
  for (const p of payloads) assert.equal(s.addPayload(p), '');
  return s;
}

function ticks(s, count, from = 0, each = () => {}) {
  let out = '';
  for (let k = 1; k <= count; ++k) {
    each(from + k);
    s.tick();
    out += s.csvRow(from + k, false);
  }
  return out;
}

const held = [
  { name: 'built-in arm, a force on the tool', forces: ['tool:0,0,-20'] },
  {
    name: 'built-in arm, two forces off their origins, rk4',
    forces: ['link2:3,0,1@0,0.1,0', 'tool:0,-4,0@0.05,0,0'],
    step: ['recursive', 'rk4', 2],
  },
  {
    name: 'puma560, a force and a payload',
    urdf: puma,
    forces: ['link3:5,0,0@0,0.1,0'],
    payloads: ['tool:2@0,0,0.05'],
  },
  {
    name: 'puma560, a payload under gravity compensation',
    urdf: puma,
    payloads: ['link3:1.5@0,0.1,0'],
    control: ['--controller', 'gravity'],
  },
  {
    name: 'puma560, payloads alone, dopri5',
    urdf: puma,
    payloads: ['tool:2', 'link2:0.5@0.1,0,0'],
    step: ['recursive', 'dopri5', 1],
  },
  {
    name: 'scara, a force, implicit',
    urdf: scara,
    forces: ['quill:2,1,0'],
    step: ['recursive', 'implicit', 1],
  },
];

test('forces held and payloads are velmoth-sim run --force --payload byte for byte', async (t) => {
  for (const c of held) {
    await t.test(c.name, () => {
      const s = arm(c.urdf, c.payloads);
      try {
        if (c.step) assert.ok(s.setStep(c.step[0], c.step[1], c.step[2], 1e-9));
        assert.equal(s.setForces((c.forces ?? []).join(' ')), '');
        if (c.control) assert.equal(s.setController(c.control), '');
        const out = s.csvHeader(false) + ticks(s, 500);
        const args = ['--ticks', '500'];
        if (c.urdf) args.push('--urdf', c.urdf);
        if (c.step)
          args.push(
            '--engine',
            c.step[0],
            '--integrator',
            c.step[1],
            '--substeps',
            String(c.step[2]),
          );
        for (const f of c.forces ?? []) args.push('--force', f);
        for (const p of c.payloads ?? []) args.push('--payload', p);
        args.push(...(c.control ?? []));
        sameRows(simRun(args), out, c.name);
      } finally {
        s.delete();
      }
    });
  }
});

test("forces and payloads are refused with velmoth-sim's reasons, nothing changed", async (t) => {
  const cases = [
    ['--force', 'nope:1,2,3'],
    ['--force', 'tool:1,2'],
    ['--force', 'tool:1,2,nan'],
    ['--payload', 'base:1'],
    ['--payload', 'tool:-1'],
    ['--payload', 'tool:1@0,0'],
  ];
  for (const [option, text] of cases) {
    await t.test(`${option} ${text}`, () => {
      const s = arm(null);
      try {
        assert.equal(s.setForces('tool:0,0,1'), '');
        const problem = option === '--force' ? s.setForces(text) : s.addPayload(text);
        const run = spawnSync(sim, ['run', '--ticks', '1', option, text], { encoding: 'utf8' });
        assert.equal(run.status, 2);
        assert.equal(`velmoth-sim: ${problem}\n`, run.stderr);
        assert.deepEqual(s.forces(), ['tool:0,0,1@0,0,0']);
        assert.deepEqual(s.payloads(), []);
      } finally {
        s.delete();
      }
    });
  }
});

test('a recording with pulls, the wheel, forces and a payload is repeated by its replay', () => {
  const dir = mkdtempSync(path.join(tmpdir(), 'velmoth-forces-'));
  for (const urdf of [null, puma]) {
    const s = arm(urdf, urdf ? ['tool:0.5@0,0.05,0'] : []);
    try {
      const csv = path.join(dir, 'pull.csv');
      // A force held from before the recording, a pull that starts with it.
      assert.equal(s.setForces('link2:0,0,3@0,0.1,0'), '');
      ticks(s, 10);
      s.startReplay(csv, urdf ?? '');
      assert.ok(s.startPull(s.jointCount() - 1, [0, 0.1, 0.03], [0.2, 1, 0.5]));
      let out = s.csvHeader(false);
      // The cursor moves each tick, then stands still, the wheel turns, the pull lets go.
      out += ticks(s, 60, 0, (k) => s.movePull([0.2, 1, 0.5 + 0.01 * k]));
      out += ticks(s, 20, 60);
      s.wheelPull(3);
      out += ticks(s, 20, 80);
      s.releasePull();
      out += ticks(s, 20, 100);
      assert.equal(s.setForces(''), '');
      // A second pull, on another link; a pull taken and let go between two ticks leaves no line.
      assert.ok(s.startPull(1, [0.05, 0, 0], [0, 0, 1]));
      out += ticks(s, 30, 120, (k) => s.movePull([0.01 * (k - 120), 0, 1]));
      s.releasePull();
      s.startPull(1, [0, 0, 0], [0, 0, 0]);
      s.releasePull();
      out += ticks(s, 10, 150);
      const replay = s.stopReplay();
      writeFileSync(csv, out);
      writeFileSync(csv + '.replay', replay);
      sameRows(simRun(['--replay', csv + '.replay']), out, `the replay of ${urdf ?? 'built-in'}`);
      for (const line of ['forces --force', ' pull ', ' cursor ', ' release'])
        assert.ok(replay.includes(line), `${line} in\n${replay}`);
      if (urdf) assert.match(replay, /^arm --payload tool:0\.5@0,0\.05,0$/m);
    } finally {
      s.delete();
    }
  }
  rmSync(dir, { recursive: true });
});

test("the pull's gains, scaled by the arm's mass and the wheel as the window's", () => {
  const s = arm(null);
  try {
    assert.equal(s.startPull(-1, [0, 0, 0], [0, 0, 0]), false);
    assert.equal(s.startPull(6, [0, 0, 0], [0, 0, 0]), false);
    assert.equal(s.startPull(2, [0, NaN, 0], [0, 0, 0]), false);
    assert.equal(s.pullState(), null);
    assert.ok(s.startPull(5, [0, 0, 0.1], [0, 0, 0]));
    // At its own point at rest the spring pulls with nothing.
    s.movePull(s.pullState().point);
    assert.equal(s.pullState().newtons, 0);
    assert.equal(s.pullState().name, 'link5');
    const scales = [];
    for (const steps of [1, 1, -2, 20, -40]) {
      s.wheelPull(steps);
      scales.push(s.pullScale());
    }
    // Clamped to 1/16 to 16 times the default, and kept for the pulls that follow.
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
  } finally {
    s.delete();
  }
});
