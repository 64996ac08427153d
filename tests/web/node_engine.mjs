// What the tests of the page's engine under Node share: the engine, velmoth-sim, the same run by
// each, and the rows of the two compared. VELMOTH_SIM and VELMOTH_ENGINE name the programs
// (default: the release build's velmoth-sim and the page's engine in build/web).
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const sim = process.env.VELMOTH_SIM || path.join(root, 'build/release/bin/velmoth-sim');

// The engine built in dir (velmoth_engine.js beside its .wasm).
export function loadEngine(dir) {
  const factory = createRequire(import.meta.url)(path.join(dir, 'velmoth_engine.js'));
  return factory({ wasmBinary: readFileSync(path.join(dir, 'velmoth_engine.wasm')) });
}
const engineDir = process.env.VELMOTH_ENGINE || path.join(root, 'build/web/engine');
export const engine = await loadEngine(engineDir);

// What velmoth-sim prints for args; simSays: its exit status and what it wrote to stderr too.
export const simRun = (args) =>
  execFileSync(sim, ['run', ...args], {
    encoding: 'utf8',
    maxBuffer: 1 << 28,
    stdio: ['ignore', 'pipe', 'ignore'],
  });
export const simSays = (args) => spawnSync(sim, ['run', ...args], { encoding: 'utf8' });

// fn(dir) in a directory of its own, removed after fn returns or its promise settles.
export function inTemp(fn) {
  const dir = mkdtempSync(path.join(tmpdir(), 'velmoth-test-'));
  const clean = () => rmSync(dir, { recursive: true, force: true });
  let later = false;
  try {
    const out = fn(dir);
    later = out instanceof Promise;
    return later ? out.finally(clean) : out;
  } finally {
    if (!later) clean();
  }
}

// What velmoth-sim run --replay prints for a recording's replay.
export const replayed = (replay) =>
  inTemp((dir) => {
    writeFileSync(path.join(dir, 'run.csv.replay'), replay);
    return simRun(['--replay', path.join(dir, 'run.csv.replay')]);
  });

// Command-line words of "--a 1, 2 --b x": a value runs to the next option.
export const words = (text) => text.split(/ (?=--)/).flatMap((w) => w.split(/(?<=^\S+) /));

// fn(s) on a simulation of o.urdf (else the built-in arm of o.links links) with o.payload's
// payloads added at load; deleted after.
export function withArm(o, fn) {
  const s = new engine.Simulation();
  try {
    const loaded = o.urdf
      ? s.loadUrdf(readFileSync(o.urdf, 'utf8'), o.urdf, '')
      : s.loadBuiltIn(Number(o.links ?? 6));
    assert.ok(loaded, s.error());
    for (const p of o.payload ?? []) assert.equal(s.addPayload(p), '');
    return fn(s);
  } finally {
    s.delete();
  }
}

// A function giving the rows of s's next count ticks, each(tick) called before each: the ticks
// counted from 1, and only every `every`-th row kept.
export function ticker(s, every = 1) {
  let tick = 0;
  return (count, each = () => {}) => {
    let out = '';
    for (const end = tick + count; tick < end;) {
      each(++tick);
      s.tick();
      if (tick % every === 0) out += s.csvRow(tick, false);
    }
    return out;
  };
}

// The run o (velmoth-sim run's options by name, o.control its controller's words) by the engine as
// the page's panel sets it up: a field left alone is the arm's own.
export function engineRun(o) {
  return withArm(o, (s) => {
    const n = s.jointCount();
    const given = ['viscous', 'coulomb', 'gravity'].map((k) => o[k] !== undefined);
    // As the panel's "Set": a coefficient given makes it every joint's.
    if (given[0] || given[1]) s.setFrictionSource('uniform');
    if (given.includes(true))
      s.setParameters(
        given[0] ? engine.readCoefficient(o.viscous) : s.viscous(),
        given[1] ? engine.readCoefficient(o.coulomb) : s.coulomb(),
        given[2] ? engine.readVector(o.gravity, 3) : s.gravity(),
      );
    if (o.engine) assert.ok(s.setStep(o.engine, o.integrator, Number(o.substeps ?? 1), 1e-9));
    if (o.mode) s.setInverse(o.mode === 'inverse');
    if (o.torque) s.setTorque(engine.readVector(o.torque, n));
    if (o.accel) s.setAccel(engine.readVector(o.accel, n));
    if (o.force) assert.equal(s.setForces(o.force.join(' ')), '');
    if (o.control) assert.equal(s.setController(o.control), '');
    return s.csvHeader(false) + ticker(s, Number(o.every ?? 1))(Number(o.ticks));
  });
}

// velmoth-sim run's arguments for o.
export const argsOf = (o) => [
  ...Object.entries(o)
    .filter(([key, v]) => v !== undefined && key !== 'name' && key !== 'control')
    .flatMap(([key, v]) => [v].flat().map((each) => `--${key}=${each}`)),
  ...(o.control ?? []),
];

// The two runs byte for byte; else the first row that differs.
export function sameRows(expected, actual, label) {
  if (expected === actual) return;
  const a = expected.split('\n');
  const b = actual.split('\n');
  const r = a.findIndex((row, i) => row !== b[i]);
  assert.fail(`${label}: row ${r} differs:\n  velmoth-sim ${a[r]}\n  the page's  ${b[r]}`);
}

// Each run of cases by both, byte for byte, as a subtest of t named by its name or else its
// arguments.
export async function sameRuns(t, cases) {
  for (const o of cases) {
    const name = o.name ?? argsOf(o).join(' ').replaceAll(`${root}${path.sep}`, '');
    await t.test(name, () => sameRows(simRun(argsOf(o)), engineRun(o), name));
  }
}
