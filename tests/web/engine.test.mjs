// The page's engine under Node against velmoth-sim: the same arms, the same inputs, the same rows.
// Run by ./dev.sh test (node --test tests/web/); VELMOTH_SIM and VELMOTH_ENGINE name the programs
// (default: the release build's velmoth-sim and the page's engine in build/web).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { engine, root, sameRows, sim, simRun } from './node_engine.mjs';

const golden = path.join(root, 'tests/tools/golden');

// The same run by the page's engine: the options of velmoth-sim's run that the tests use.
function engineRun(o) {
  const s = new engine.Simulation();
  try {
    const ok = o.urdf
      ? s.loadUrdf(readFileSync(o.urdf, 'utf8'), o.urdf, '')
      : s.loadBuiltIn(o.links ?? 6);
    assert.ok(ok, s.error());
    const n = s.jointCount();
    if (o.viscous !== undefined || o.coulomb !== undefined || o.gravity !== undefined) {
      // As the panel's "Set": a coefficient given makes it every joint's.
      if (o.viscous !== undefined || o.coulomb !== undefined) s.setFrictionSource('uniform');
      s.setParameters(
        o.viscous !== undefined ? engine.readCoefficient(o.viscous) : s.viscous(),
        o.coulomb !== undefined ? engine.readCoefficient(o.coulomb) : s.coulomb(),
        o.gravity !== undefined ? engine.readVector(o.gravity, 3) : s.gravity(),
      );
    }
    if (o.engine) assert.ok(s.setStep(o.engine, o.integrator, o.substeps ?? 1, 1e-9));
    s.setInverse(o.mode === 'inverse');
    s.setTorque(engine.readVector(o.torque ?? '', n));
    s.setAccel(engine.readVector(o.accel ?? '', n));
    if (o.control) assert.equal(s.setController(o.control), '');
    let out = s.csvHeader(false);
    for (let tick = 1; tick <= o.ticks; ++tick) {
      s.tick();
      if (tick % (o.every ?? 1) === 0) out += s.csvRow(tick, false);
    }
    return out;
  } finally {
    s.delete();
  }
}

function argsOf(o) {
  const args = ['--ticks', String(o.ticks)];
  for (const key of [
    'mode',
    'links',
    'urdf',
    'torque',
    'accel',
    'viscous',
    'coulomb',
    'gravity',
    'engine',
    'integrator',
    'substeps',
    'every',
  ]) {
    if (o[key] !== undefined) args.push(`--${key}=${o[key]}`);
  }
  return [...args, ...(o.control ?? [])];
}

const arms = [
  ...readdirSync(path.join(root, 'examples'))
    .filter((f) => f.endsWith('.urdf'))
    .map((f) => path.join(root, 'examples', f)),
  ...readdirSync(path.join(root, 'tests/urdf'))
    .filter((f) => f.endsWith('.urdf'))
    .map((f) => path.join(root, 'tests/urdf', f)),
];

const cases = [
  { name: 'built-in arm', ticks: 1000 },
  {
    name: 'built-in arm, torques, recursive rk4 x 2',
    ticks: 1000,
    torque: '1, -0.5, 0.25',
    engine: 'recursive',
    integrator: 'rk4',
    substeps: 2,
  },
  {
    name: 'built-in arm, closed form implicit',
    ticks: 1000,
    torque: '0.5',
    engine: 'closed-form',
    integrator: 'implicit',
  },
  {
    name: 'built-in arm, inverse',
    ticks: 1000,
    mode: 'inverse',
    accel: '0.3, -0.2, 0.1',
  },
  ...arms.map((urdf) => ({
    name: path.relative(root, urdf),
    ticks: 1000,
    urdf,
  })),
  {
    name: 'puma560, torques, recursive euler',
    ticks: 1000,
    urdf: path.join(root, 'examples/puma560.urdf'),
    torque: '5, 0, -3',
    engine: 'recursive',
    integrator: 'euler',
  },
];

test('1000 ticks of every sample and test arm are velmoth-sim run byte for byte', async (t) => {
  for (const c of cases) {
    await t.test(c.name, () => sameRows(simRun(argsOf(c)), engineRun(c), c.name));
  }
});

// Each law on every sample, with the options that reach the most of it: a held torque, a model
// that errs, a trapezoid, a sine on the tool.
const laws = [
  ['gravity', '--control-rate', '1000'],
  ['pd', '--target', '0.3, -0.2, 0.1', '--compensation', 'off', '--kd', '5'],
  [
    'computed-torque',
    '--target',
    '0.3, -0.2, 0.1',
    '--trajectory',
    'trapezoid',
    '--duration',
    '1',
    '--model-mass-error',
    '0.5',
    '--control-rate',
    '200',
  ],
  ['computed-torque', '--target', '-0.4', '--model-friction', 'off'],
  ['task-pd', '--trajectory', 'sine', '--period', '1.5'],
];
test('each controller on every sample is velmoth-sim run byte for byte', async (t) => {
  const samples = arms.filter((a) => a.includes('/examples/'));
  for (const [law, ...rest] of laws) {
    for (const urdf of [undefined, ...samples]) {
      const c = { ticks: 300, urdf, control: ['--controller', law, ...rest] };
      const name = `${c.control.join(' ')} on ${urdf ? path.basename(urdf) : 'built-in arm'}`;
      await t.test(name, () => sameRows(simRun(argsOf(c)), engineRun(c), name));
    }
  }
});

test("the controller options are refused with velmoth-sim's reasons, nothing changed", () => {
  const s = new engine.Simulation();
  try {
    for (const [options, reason] of [
      [['--controller', 'gravity', '--target', '1'], /--target needs --controller pd/],
      [['--controller', 'pd', '--control-rate', '150'], /--control-rate: expects continuous/],
      [['--controller', 'hold'], /expects torque, gravity, pd/],
      [['--controller', 'task-pd', '--tool', 'nowhere'], /no frame 'nowhere'/],
      [['--controller', 'pd', '--kp'], /--kp/],
    ]) {
      assert.match(s.setController(options), reason, options.join(' '));
      assert.equal(s.control().kind, 'torque');
    }
  } finally {
    s.delete();
  }
});

test('a recording with controller changes, a target and a pose is repeated by its replay', () => {
  const dir = mkdtempSync(path.join(tmpdir(), 'velmoth-lab-'));
  const s = new engine.Simulation();
  try {
    const csv = path.join(dir, 'lab.csv');
    // A reference already running when the recording starts goes on from where it is.
    assert.equal(s.setController(['--controller', 'pd', '--target', '0.2, 0.1']), '');
    for (let k = 0; k < 30; ++k) s.tick();
    s.startReplay(csv, '');
    let out = s.csvHeader(false);
    let tick = 0;
    const ticks = (count) => {
      for (let k = 0; k < count; ++k) {
        s.tick();
        out += s.csvRow(++tick, false);
      }
    };
    ticks(40);
    assert.equal(s.setController(['--controller', 'computed-torque', '--control-rate', '500']), '');
    ticks(40);
    s.setTarget([0.5, -0.3, 0.2, 0, 0, 0]);
    ticks(40);
    s.setPose([0.1, 0.2, 0.3]);
    ticks(40);
    s.reset();
    ticks(20);
    const replay = s.stopReplay();
    writeFileSync(csv, out);
    writeFileSync(csv + '.replay', replay);
    sameRows(simRun(['--replay', csv + '.replay']), out, 'the replay');
    assert.match(replay, /reference/);
  } finally {
    s.delete();
    rmSync(dir, { recursive: true });
  }
});

test("the built-in arm's golden runs byte for byte", async (t) => {
  const lines = readFileSync(path.join(golden, 'CASES.txt'), 'utf8').trim().split('\n');
  for (const line of lines) {
    const [file, command] = line.split(': velmoth-sim run ');
    const o = {};
    for (const m of command.matchAll(/--(\w+) (?:"([^"]*)"|(\S+))/g)) o[m[1]] = m[2] ?? m[3];
    o.ticks = Number(o.ticks);
    if (o.links !== undefined) o.links = Number(o.links);
    if (o.every !== undefined) o.every = Number(o.every);
    await t.test(file, () =>
      sameRows(readFileSync(path.join(golden, file), 'utf8'), engineRun(o), file),
    );
  }
});

test('a file is refused, or loads with its notices, as velmoth-sim says', async (t) => {
  const files = {
    'malformed.urdf': '<robot name="x"><link name="a"/>',
    'no-robot.urdf': '<?xml version="1.0"?><nothing/>',
    'unknown-parent.urdf':
      '<robot name="x"><link name="a"/><link name="b"/><joint name="j" type="revolute"><parent link="c"/><child link="b"/><limit lower="-1" upper="1" effort="1" velocity="1"/></joint></robot>',
    'empty.urdf': '',
  };
  const dir = (await import('node:fs')).mkdtempSync('/tmp/velmoth-web-test-');
  const { writeFileSync, rmSync } = await import('node:fs');
  try {
    const all = { ...files };
    for (const urdf of arms) all[urdf] = null;
    for (const [name, text] of Object.entries(all)) {
      const file = text === null ? name : path.join(dir, name);
      if (text !== null) writeFileSync(file, text);
      await t.test(path.basename(name), () => {
        const cli = spawnSync(sim, ['run', '--ticks', '0', '--urdf', file], {
          encoding: 'utf8',
        });
        const s = new engine.Simulation();
        const ok = s.loadUrdf(readFileSync(file, 'utf8'), file, '');
        const said = ok
          ? s
              .notices()
              .map((l) => `velmoth-sim: ${l}\n`)
              .join('')
          : `velmoth-sim: ${s.error()}\n`;
        s.delete();
        assert.equal(ok, cli.status === 0);
        assert.equal(said, cli.stderr);
      });
    }
  } finally {
    rmSync(dir, { recursive: true });
  }
});

test("the panel's text formats are the window's", () => {
  // Number text: %.3f inside (-1e6, 1e6), %.3g beyond; vector text "% 6.2g, " each.
  assert.equal(engine.numberText(1.23456), '1.235');
  assert.equal(engine.numberText(-2e6), '-2e+06');
  assert.equal(engine.vectorText([0.5, -12.25, 1e-5]), '   0.5,    -12,  1e-05, ');
  // Missing numbers are 0, numbers beyond the vector are ignored.
  assert.deepEqual(engine.readVector('1, -2, 3e-1', 4), [1, -2, 0.3, 0]);
  assert.deepEqual(engine.readVector('1, 2, 3', 2), [1, 2]);
  assert.equal(engine.readCoefficient('0.25abc'), 0.25);
});

test("an arm's first ticks before any input are velmoth-sim's: the inputs start at zero", () => {
  const urdf = path.join(root, 'examples/scara.urdf');
  for (const load of [
    (s) => s.loadBuiltIn(6),
    (s) => s.loadUrdf(readFileSync(urdf, 'utf8'), urdf, ''),
  ]) {
    const s = new engine.Simulation();
    load(s);
    s.tick();
    const row = s.csvHeader(false) + s.csvRow(1, false);
    const fromFile = s.fromFile();
    s.delete();
    assert.equal(row, simRun(fromFile ? ['--urdf', urdf, '--ticks', '1'] : ['--ticks', '1']));
  }
});

test('a tick that diverges is where the page stops, finite or not, as velmoth-sim says', () => {
  // Euler thrown at 1e4 rad/s makes energy without work in its second tick, finite; at 1e5 the
  // state is not finite. A Reset starts again.
  for (const speed of [1e4, 1e5]) {
    const s = new engine.Simulation();
    s.loadBuiltIn(2);
    assert.ok(s.setStep('recursive', 'euler', 1, 1e-9));
    s.setState([0, 0], [speed, -speed]);
    const finite = [];
    for (let tick = 1; tick <= 3; ++tick) {
      s.tick();
      finite.push(s.state().finite);
    }
    const args = 'run --links 2 --engine recursive --integrator euler --ticks 3'.split(' ');
    const said = spawnSync(sim, [...args, `--qd0=${speed},${-speed}`], {
      encoding: 'utf8',
    }).stderr.match(/diverged at tick (\d)/);
    assert.equal(finite.indexOf(false) + 1, Number(said[1]), `${speed}: ${finite}`);
    s.reset();
    s.tick();
    assert.ok(s.state().finite);
    s.delete();
  }
});

// Emscripten's compiler, which runs its optimiser on Debian's acorn.
function emcc(args) {
  execFileSync('emcc', args, {
    env: {
      ...process.env,
      NODE_PATH: [process.env.NODE_PATH, '/usr/share/nodejs'].filter(Boolean).join(':'),
    },
    stdio: 'ignore',
  });
}

test("the exact multiply-add of glibc's functions is the C library's fma bit for bit", () => {
  // Built here with Emscripten beside tests/web/exact_fma_check.c, and run under Node.
  const dir = mkdtempSync(path.join(tmpdir(), 'velmoth-fma-'));
  try {
    const js = path.join(dir, 'check.js');
    emcc([
      '-O2',
      '-ffp-contract=off',
      path.join(root, 'tests/web/exact_fma_check.c'),
      path.join(root, 'web/deps/glibc/exact_fma.c'),
      '-o',
      js,
    ]);
    const out = spawnSync(process.execPath, ['--no-experimental-fetch', js], {
      encoding: 'utf8',
    });
    assert.match(out.stdout, /^\d+ cases agree\n$/, out.stdout);
  } finally {
    rmSync(dir, { recursive: true });
  }
});

test("the page's sin, cos, atan2 and pow are the machine's bit for bit", () => {
  const dir = mkdtempSync(path.join(tmpdir(), 'velmoth-math-'));
  try {
    const source = path.join(root, 'tests/web/math_check.c');
    const native = path.join(dir, 'check');
    execFileSync('cc', ['-O2', '-ffp-contract=off', source, '-o', native, '-lm']);
    const js = path.join(dir, 'check.js');
    const library = path.join(root, 'build/web-deps/prefix/lib/libglibc_math.a');
    emcc(['-O2', '-ffp-contract=off', source, library, '-o', js]);
    const page = spawnSync(process.execPath, ['--no-experimental-fetch', js], {
      encoding: 'utf8',
    });
    assert.equal(page.stdout, execFileSync(native, { encoding: 'utf8' }));
  } finally {
    rmSync(dir, { recursive: true });
  }
});
