// What the tests of the page's engine under Node share: the engine, velmoth-sim, and the rows of
// the two compared. VELMOTH_SIM and VELMOTH_ENGINE name the programs (default: the release
// build's velmoth-sim and the page's engine in build/web).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const sim = process.env.VELMOTH_SIM || path.join(root, 'build/release/bin/velmoth-sim');
const engineDir = process.env.VELMOTH_ENGINE || path.join(root, 'build/web/engine');
const factory = createRequire(import.meta.url)(path.join(engineDir, 'velmoth_engine.js'));
export const engine = await factory({
  wasmBinary: readFileSync(path.join(engineDir, 'velmoth_engine.wasm')),
});

// What velmoth-sim prints for args.
export function simRun(args) {
  return execFileSync(sim, ['run', ...args], {
    encoding: 'utf8',
    maxBuffer: 1 << 28,
    stdio: ['ignore', 'pipe', 'ignore'],
  });
}

// The two runs byte for byte; else the first row that differs.
export function sameRows(expected, actual, label) {
  if (expected === actual) return;
  const a = expected.split('\n');
  const b = actual.split('\n');
  const r = a.findIndex((row, i) => row !== b[i]);
  assert.fail(`${label}: row ${r} differs:\n  velmoth-sim ${a[r]}\n  the page's  ${b[r]}`);
}
