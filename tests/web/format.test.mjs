// The page's sources, its tests and its benchmark are formatted as web/.prettierrc.json says
// (web/node_modules/.bin/prettier --config web/.prettierrc.json --write FILES formats them).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');

test("the page's scripts, styles and markup are formatted", () => {
  const prettier = path.join(root, 'web/node_modules/.bin/prettier');
  const files = ['web/src', 'web/index.html', 'tests/web', 'bench/page_bench.mjs'];
  const out = spawnSync(prettier, ['--config', 'web/.prettierrc.json', '--check', ...files], {
    cwd: root,
    encoding: 'utf8',
  });
  assert.equal(out.status, 0, out.stdout + out.stderr);
});
