// What client script developers are given besides the module: its type
// declarations, checked with the pinned TypeScript compiler against a usage
// example, and its reference page. Independent of the runtime generation.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import { build, repo, scriptFunctions } from './support/host.mjs';

const declarations = fs.readFileSync(path.join(repo, 'binding/index.d.ts'), 'utf8');
const reference = fs.readFileSync(path.join(repo, 'docs/script-api.md'), 'utf8');

const kCoverage = [
  { what: 'declarations, in registration order', names: [...declarations.matchAll(/^export function (\w+)\(/gm)] },
  { what: 'reference sections, in registration order', names: [...reference.matchAll(/^### `(\w+)`/gm)] },
];
for (const { what, names } of kCoverage) {
  test(`every script function has its ${what}`, () => {
    assert.deepEqual(names.map((m) => m[1]), scriptFunctions);
  });
}

test('the usage example type-checks and each of its marked misuses is rejected', () => {
  const tsc = path.join(build, 'typescript/node_modules/typescript/bin/tsc');
  const run = spawnSync(process.execPath, [tsc, '-p', path.join(repo, 'tests/node/types')], { encoding: 'utf8' });
  assert.equal(run.error, undefined);
  assert.equal(run.status, 0, run.stdout + run.stderr);
});
