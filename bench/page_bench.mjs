// The page's targets, measured in headless Chromium: the engine's tick in WebAssembly beside the
// native tick (page_tick_bench, the same ticks), the real-time factor and frame rate of every sample
// running in the page, how soon the built-in arm moves after the page is asked for, and the page's
// size. Needs the built page (./dev.sh web or web/build.sh build/web/page) and the release build's
// page_tick_bench. Prints Markdown tables.
//   node bench/page_bench.mjs [SECONDS]   (seconds each sample runs; default 5)
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readdirSync, rmSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { launchChromium, openMoving, servePage } from '../tests/web/chromium.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const pageDir = process.env.VELMOTH_PAGE || path.join(root, 'build/web/page');
const nativeBench = path.join(root, 'build/release/bin/page_tick_bench');
const seconds = Number(process.argv[2] || 5);
// --ticks: the ticks' table only.
const ticksOnly = process.argv.includes('--ticks');
const samples = [
  'arm7_gripper.urdf',
  'double_pendulum.urdf',
  'industrial6.urdf',
  'planar_3link.urdf',
  'puma560.urdf',
  'scara.urdf',
];

function bytes(dir) {
  let total = 0;
  for (const entry of readdirSync(dir, { withFileTypes: true })) {
    const p = path.join(dir, entry.name);
    total += entry.isDirectory() ? bytes(p) : statSync(p).size;
  }
  return total;
}

// Native: nanoseconds per tick of one benchmark, the least of five repetitions (the machine is
// shared: the least is the tick's own cost).
const unit = { ns: 1, us: 1e3, ms: 1e6 };
function nativeTick(name) {
  const report = JSON.parse(
    execFileSync(
      nativeBench,
      [
        '--benchmark_format=json',
        '--benchmark_min_time=0.1',
        '--benchmark_repetitions=5',
        `--benchmark_filter=^${name}$`,
      ],
      { encoding: 'utf8', maxBuffer: 1 << 26 },
    ),
  );
  let least = Infinity;
  for (const b of report.benchmarks) {
    if (b.run_type === 'iteration') least = Math.min(least, b.real_time * unit[b.time_unit]);
  }
  return least;
}

const server = await servePage(pageDir);
const url = `http://127.0.0.1:${server.address().port}/`;
const profile = mkdtempSync(path.join(tmpdir(), 'velmoth-chromium-'));
const browser = await launchChromium(profile);
try {
  const page = await browser.newPage();
  const firstMove = await openMoving(page, url);

  // The same ticks as page_tick_bench, on the engine in the page (its main thread, nothing else
  // running there: the worker is paused).
  await page.click('#run');
  await page.waitForFunction(() => window.velmoth.run.clock.paused);
  await page.evaluate(async () => {
    await new Promise((resolve) => {
      const s = document.createElement('script');
      s.src = 'engine/velmoth_engine.js';
      s.onload = resolve;
      document.head.append(s);
    });
    const engine = await window.VelmothEngine({ locateFile: (f) => 'engine/' + f });
    // The least of five runs of about 0.1 s each, every run from rest as page_tick_bench's.
    const time = (load) => {
      const s = new engine.Simulation();
      load(s);
      let least = Infinity;
      for (let run = 0; run < 5; ++run) {
        let ticks = 0;
        let total = 0;
        while (total < 100) {
          const t0 = performance.now();
          for (let k = 0; k < 299; ++k) s.tick();
          total += performance.now() - t0;
          ticks += 299;
          s.reset();
          s.restartStep();
        }
        least = Math.min(least, (total * 1e6) / ticks);
      }
      s.delete();
      return least;
    };
    // The ticks of one of page_tick_bench's benchmarks.
    window.pageTick = async (name) => {
      const links = /links:(\d+)$/.exec(name);
      if (links) return time((s) => s.loadBuiltIn(Number(links[1])));
      const file = name.slice(name.indexOf('/') + 1);
      const text = await (await fetch('samples/' + file)).text();
      return time((s) => s.loadUrdf(text, file, ''));
    };
  });
  const names = [
    ...Array.from({ length: 24 }, (_, i) => `BM_PageTickBuiltIn/links:${i + 1}`),
    ...samples.map((f) => `BM_PageTickSample/${f}`),
  ];

  console.log('| arm | native tick | page tick (Chromium) | ratio |\n|---|---|---|---|');
  for (const name of names) {
    // Three rounds, native and page in turn, so that a spell of load on the shared machine costs
    // one round of either and not the ratio: the least of each.
    let n = Infinity;
    let ns = Infinity;
    for (let round = 0; round < 3; ++round) {
      n = Math.min(n, nativeTick(name));
      ns = Math.min(ns, await page.evaluate((which) => window.pageTick(which), name));
    }
    const label = name
      .replace('BM_PageTickBuiltIn/links:', 'built-in, links ')
      .replace('BM_PageTickSample/', '');
    console.log(
      `| ${label} | ${(n / 1e3).toFixed(2)} µs | ${(ns / 1e3).toFixed(2)} µs | ${(ns / n).toFixed(2)} |`,
    );
  }

  if (!ticksOnly) {
    // Every sample running in the page: ticks shown per second of wall time, and frames.
    console.log(`\n| arm | real-time factor | frames per second |\n|---|---|---|`);
    for (const id of ['built-in', ...samples]) {
      await page.select('#sample', id);
      await page.waitForFunction(
        (want) =>
          window.velmoth.run.arm &&
          (want === 'built-in'
            ? !window.velmoth.run.arm.fromFile
            : window.velmoth.run.arm.name + '.urdf' === want),
        {},
        id,
      );
      if (await page.evaluate(() => window.velmoth.run.clock.paused)) await page.click('#run');
      await new Promise((r) => setTimeout(r, 1000));
      const a = await page.evaluate(() => [
        performance.now(),
        window.velmoth.run.shownTicks,
        window.velmoth.run.frames,
      ]);
      await new Promise((r) => setTimeout(r, seconds * 1000));
      const b = await page.evaluate(() => [
        performance.now(),
        window.velmoth.run.shownTicks,
        window.velmoth.run.frames,
      ]);
      const wall = (b[0] - a[0]) / 1000;
      console.log(
        `| ${id} | ${(((b[1] - a[1]) * 0.01) / wall).toFixed(4)} | ${((b[2] - a[2]) / wall).toFixed(1)} |`,
      );
    }
  }
  console.log(
    `\nThe built-in arm moved ${firstMove} ms after the page was asked for; the page is ${(bytes(pageDir) / 1e6).toFixed(2)} MB.`,
  );
} finally {
  await browser.close();
  server.close();
  rmSync(profile, { recursive: true, force: true });
}
