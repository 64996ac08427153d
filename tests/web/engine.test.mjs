// The page's engine under Node against velmoth-sim: the same arms, the same inputs, the same rows.
// Run by ./dev.sh test (node --test tests/web/); node_engine.mjs says which programs it takes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { readFileSync, readdirSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import {
  engine,
  engineRun,
  inTemp,
  replayed,
  root,
  sameRows,
  sameRuns,
  simSays,
  ticker,
  withArm,
  words,
} from './node_engine.mjs';

const arms = ['examples', 'tests/urdf'].flatMap((dir) =>
  readdirSync(path.join(root, dir))
    .filter((f) => f.endsWith('.urdf'))
    .map((f) => path.join(root, dir, f)),
);
const puma = path.join(root, 'examples/puma560.urdf');

// An input not given is left as the arm loads: these runs also say that it starts at zero.
const runs = [
  { ticks: 1000 },
  { ticks: 1000, torque: '1, -0.5, 0.25', engine: 'recursive', integrator: 'rk4', substeps: 2 },
  { ticks: 1000, torque: '0.5', engine: 'closed-form', integrator: 'implicit' },
  { ticks: 1000, mode: 'inverse', accel: '0.3, -0.2, 0.1' },
  ...arms.map((urdf) => ({ ticks: 1000, urdf })),
  { ticks: 1000, urdf: puma, torque: '5, 0, -3', engine: 'recursive', integrator: 'euler' },
  // A coefficient given replaces the file's own, joint by joint.
  { ticks: 1000, urdf: path.join(root, 'examples/planar_3link.urdf'), viscous: '0.3' },
];
test('1000 ticks of every sample and test arm are velmoth-sim run byte for byte', (t) =>
  sameRuns(t, runs));

// Each law on every sample, with the options that reach the most of it: a held torque, a model
// that errs, a trapezoid, a sine on the tool.
const laws = [
  '--controller gravity --control-rate 1000',
  '--controller pd --target 0.3, -0.2, 0.1 --compensation off --kd 5',
  '--controller computed-torque --target 0.3, -0.2, 0.1 --trajectory trapezoid --duration 1 ' +
    '--model-mass-error 0.5 --control-rate 200',
  '--controller computed-torque --target -0.4 --model-friction off',
  '--controller task-pd --trajectory sine --period 1.5',
];
const samples = [undefined, ...arms.filter((a) => a.includes('/examples/'))];
const controlled = laws.flatMap((law) =>
  samples.map((urdf) => ({ ticks: 300, urdf, control: words(law) })),
);
test('each controller on every sample is velmoth-sim run byte for byte', (t) =>
  sameRuns(t, controlled));

test("the controller options are refused with velmoth-sim's reasons, nothing changed", () =>
  withArm({}, (s) => {
    for (const [options, reason] of [
      ['--controller gravity --target 1', /--target needs --controller pd/],
      ['--controller pd --control-rate 150', /--control-rate: expects continuous/],
      ['--controller hold', /expects torque, gravity, pd/],
      ['--controller task-pd --tool nowhere', /no frame 'nowhere'/],
      ['--controller pd --kp', /--kp/],
    ]) {
      assert.match(s.setController(words(options)), reason, options);
      assert.equal(s.control().kind, 'torque', options);
    }
  }));

test('a recording with controller changes, a target and a pose is repeated by its replay', () =>
  withArm({}, (s) => {
    // A reference already running when the recording starts goes on from where it is.
    assert.equal(s.setController(words('--controller pd --target 0.2, 0.1')), '');
    ticker(s)(30);
    s.startReplay('lab.csv', '');
    const next = ticker(s);
    let out = s.csvHeader(false) + next(40);
    assert.equal(s.setController(words('--controller computed-torque --control-rate 500')), '');
    out += next(40);
    s.setTarget([0.5, -0.3, 0.2, 0, 0, 0]);
    out += next(40);
    s.setPose([0.1, 0.2, 0.3]);
    out += next(40);
    s.reset();
    out += next(20);
    const replay = s.stopReplay();
    assert.match(replay, /reference/);
    sameRows(replayed(replay), out, 'the replay');
  }));

test("the built-in arm's golden runs byte for byte", async (t) => {
  const golden = path.join(root, 'tests/tools/golden');
  for (const line of readFileSync(path.join(golden, 'CASES.txt'), 'utf8').trim().split('\n')) {
    const [file, command] = line.split(': velmoth-sim run ');
    const o = {};
    for (const m of command.matchAll(/--(\w+) (?:"([^"]*)"|(\S+))/g)) o[m[1]] = m[2] ?? m[3];
    const expected = readFileSync(path.join(golden, file), 'utf8');
    await t.test(file, () => sameRows(expected, engineRun(o), file));
  }
});

test('a file is refused, or loads with its notices, as velmoth-sim says', (t) =>
  inTemp(async (dir) => {
    const bad = {
      'malformed.urdf': '<robot name="x"><link name="a"/>',
      'no-robot.urdf': '<?xml version="1.0"?><nothing/>',
      'unknown-parent.urdf':
        '<robot name="x"><link name="a"/><link name="b"/><joint name="j" type="revolute"><parent link="c"/><child link="b"/><limit lower="-1" upper="1" effort="1" velocity="1"/></joint></robot>',
      'empty.urdf': '',
    };
    for (const [name, text] of Object.entries(bad)) writeFileSync(path.join(dir, name), text);
    for (const file of [...Object.keys(bad).map((name) => path.join(dir, name)), ...arms]) {
      await t.test(path.basename(file), () => {
        const cli = simSays(['--ticks', '0', '--urdf', file]);
        const s = new engine.Simulation();
        try {
          const ok = s.loadUrdf(readFileSync(file, 'utf8'), file, '');
          assert.equal(ok, cli.status === 0);
          const said = ok ? s.notices() : [s.error()];
          assert.equal(said.map((l) => `velmoth-sim: ${l}\n`).join(''), cli.stderr);
        } finally {
          s.delete();
        }
      });
    }
  }));

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

test('a tick that diverges is where the page stops, finite or not, as velmoth-sim says', () => {
  // Euler thrown at 1e4 rad/s makes energy without work in its second tick, finite; at 1e5 the
  // state is not finite. A Reset starts again.
  for (const speed of [1e4, 1e5]) {
    withArm({ links: 2 }, (s) => {
      assert.ok(s.setStep('recursive', 'euler', 1, 1e-9));
      s.setState([0, 0], [speed, -speed]);
      const finite = [1, 2, 3].map(() => (s.tick(), s.state().finite));
      const args = words('--links 2 --engine recursive --integrator euler --ticks 3');
      const said = simSays([...args, `--qd0=${speed},${-speed}`]).stderr;
      const at = Number(said.match(/diverged at tick (\d)/)[1]);
      assert.equal(finite.indexOf(false) + 1, at, `${speed}: ${finite}`);
      s.reset();
      s.tick();
      assert.ok(s.state().finite, `${speed}: after a Reset`);
    });
  }
});

test("a tick that reaches the step's cap or leaves the balance off says so in velmoth-sim's words", () => {
  // The thrown two-rod arm: Euler and RK4 leave the balance off in their first tick, dopri5 at
  // 1e5 rad/s reaches its cap there as well. The cap is said once per arm, the balance once per
  // balance, and an inverse tick says nothing.
  for (const [integrator, speed] of [
    ['euler', 30],
    ['rk4', 100],
    ['dopri5', 1e5],
  ]) {
    withArm({ links: 2 }, (s) => {
      assert.ok(s.setStep('recursive', integrator, 1, 1e-9));
      s.setState([0, 0], [speed, -speed]);
      const notes = [1, 2, 3, 4, 5].map(() => (s.tick(), s.tickNote())).filter(Boolean);
      const args = words(`--links 2 --engine recursive --integrator ${integrator} --ticks 5`);
      const said = simSays([...args, `--qd0=${speed},${-speed}`])
        .stderr.split('\n')
        .filter((line) => line.startsWith('velmoth-sim: warning: tick'))
        .map((line) =>
          line
            .replace('velmoth-sim: warning: ', '')
            .replace(/; (the run goes on|later ticks that reach it are not reported)$/, ''),
        );
      assert.ok(said.length > 0, integrator);
      assert.deepEqual(notes.join('\n').split('\n'), said, integrator);
      s.setInverse(true);
      s.tick();
      assert.equal(s.tickNote(), '', integrator);
    });
  }
});

// The output of the program that Emscripten's compiler (its optimiser on Debian's acorn) builds
// from the sources, run under Node.
function emccRun(sources) {
  return inTemp((dir) => {
    const js = path.join(dir, 'check.js');
    const NODE_PATH = [process.env.NODE_PATH, '/usr/share/nodejs'].filter(Boolean).join(':');
    execFileSync('emcc', ['-O2', '-ffp-contract=off', ...sources, '-o', js], {
      env: { ...process.env, NODE_PATH },
      stdio: 'ignore',
    });
    return spawnSync(process.execPath, ['--no-experimental-fetch', js], { encoding: 'utf8' })
      .stdout;
  });
}

test("the exact multiply-add of glibc's functions is the C library's fma bit for bit", () => {
  const out = emccRun(
    ['tests/web/exact_fma_check.c', 'web/deps/glibc/exact_fma.c'].map((f) => path.join(root, f)),
  );
  assert.match(out, /^\d+ cases agree\n$/, out);
});

test("the page's sin, cos, atan2 and pow are the machine's bit for bit", () =>
  inTemp((dir) => {
    const source = path.join(root, 'tests/web/math_check.c');
    execFileSync('cc', ['-O2', '-ffp-contract=off', source, '-o', path.join(dir, 'check'), '-lm']);
    const library = path.join(root, 'build/web-deps/prefix/lib/libglibc_math.a');
    const native = execFileSync(path.join(dir, 'check'), { encoding: 'utf8' });
    assert.equal(emccRun([source, library]), native);
  }));
