// The page's sources, its tests and its benchmark are formatted as web/.prettierrc.json says
// (web/node_modules/.bin/prettier --config web/.prettierrc.json --write FILES formats them).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { fileURLToPath } from 'node:url';

test("the page's scripts, styles and markup are formatted", () => {
  const cwd = fileURLToPath(new URL('../..', import.meta.url));
  const files = ['web/src', 'web/index.html', 'tests/web', 'bench/page_bench.mjs'];
  const args = ['--config', 'web/.prettierrc.json', '--check', ...files];
  const out = spawnSync(cwd + 'web/node_modules/.bin/prettier', args, { cwd, encoding: 'utf8' });
  assert.equal(out.status, 0, out.stdout + out.stderr);
});
