// A host program for the add-on, as the client is: a copy of the Node.js
// runtime the build's add-on is for, in a folder of its own, with the
// add-on's log folder beside it, so the add-on's log and config.ini land
// there. Scripts run in child processes of that host, in a sandboxed home,
// and hand back one JSON result; a crash shows in the exit status instead of
// taking the test down. The suites themselves always run in current Node.js.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import child from './child.js';

const { eventually, splitLog } = child;
export { eventually };
const childHelpers = path.join(path.dirname(fileURLToPath(import.meta.url)), 'child.js');

export const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../..');
export const build = path.resolve(process.env.ORVANE_BUILD ?? path.join(repo, 'build/native'));
export const bindingPath = path.join(build, 'bin', 'binding.node');
export const installFolder = path.join(build, 'install');
export const withCupsd = path.join(repo, 'tests/unit/printers/with-cupsd');

// The runtime a build's binding.node is for, as that build recorded it: its
// module generation and executable.
export function addonRuntimeOf(folder) {
  const file = path.join(folder, 'addon-runtime.json');
  if (!fs.existsSync(file)) return { modules: process.versions.modules, executable: process.execPath };
  return JSON.parse(fs.readFileSync(file, 'utf8'));
}
export const addonRuntime = addonRuntimeOf(build);
// Generation 47 (Node.js 5) runs plain CommonJS: no ES modules, async
// functions or worker threads.
export const legacyRuntime = addonRuntime.modules === '47';
// The skip reason of a case that needs what generation 47 lacks.
export const currentOnly = (what) => legacyRuntime && `needs ${what}, which module generation 47 lacks`;

// The add-on's script functions in registration order: the 21 published ones, then those added since.
export const scriptFunctions = [
  'print', 'printTestMsg', 'setDriverName', 'setDriverWidth', 'getDriverName', 'getDriverWidth',
  'getLocalPrintDriver', 'GetAllLocalPrintDrivers', 'getSelectPrinter', 'savePrinter', 'openPrintTask',
  'openPrintPro', 'QuerySysCommand', 'QuerySysCommand2', 'NoDriverGetPrinters', 'NoDriverSetPrinters',
  'NoDriverPrint', 'NoDriverGetPrinted', 'SetPrinterCheckTime', 'SetMonitorTime', 'GetPrintedTasks',
  'NoDriverGetStatus',
  'GetPrinterStatus',
];

const kResultMark = '\n@@orvane-result@@';

// Links a file into place, copying where a link cannot be made.
export function placeFile(from, to) {
  try {
    fs.linkSync(from, to);
  } catch {
    fs.copyFileSync(from, to);
    fs.chmodSync(to, fs.statSync(from).mode);
  }
}

export class Host {
  // `executable`: the program the host runs as, a copy of this runtime by
  // default; `as`: its name there. Only the client itself is named Orvane:
  // the updater ends every process of that name.
  constructor(name, { executable = addonRuntime.executable, as = 'addon-host' } = {}) {
    this.root = fs.mkdtempSync(path.join(os.tmpdir(), `orvane-node-${name}-`));
    this.folder = path.join(this.root, 'app');
    this.home = path.join(this.root, 'home');
    this.fakeBin = path.join(this.root, 'fake-bin');
    for (const dir of [this.folder, path.join(this.folder, 'log'), this.home, this.fakeBin,
      path.join(this.home, '.local/share'), path.join(this.root, 'runtime'), path.join(this.root, 'tmp'),
      path.join(this.root, 'work'), path.join(this.root, 'no-usb/bus/usb/devices')]) {
      fs.mkdirSync(dir, { recursive: true, mode: 0o700 });
    }
    this.executable = path.join(this.folder, as);
    placeFile(executable, this.executable);
  }

  get logFile() { return path.join(this.folder, 'log', 'kesto.log'); }
  get configFile() { return path.join(this.folder, 'config.ini'); }

  env(extra = {}) {
    return {
      PATH: `${this.fakeBin}:${process.env.PATH ?? '/usr/bin:/bin'}:/usr/sbin:/sbin`,
      HOME: this.home,
      XDG_DATA_HOME: path.join(this.home, '.local/share'),
      XDG_RUNTIME_DIR: path.join(this.root, 'runtime'),
      TMPDIR: path.join(this.root, 'tmp'),
      LANG: 'C.UTF-8',
      // No scheduler and no USB devices unless a test provides them.
      CUPS_SERVER: path.join(this.root, 'no-cupsd.sock'),
      ORVANE_SYSFS_ROOT: path.join(this.root, 'no-usb'),
      ...extra,
    };
  }

  // A stand-in for a system program in the sandbox's search path (`where`
  // "path") or beside the host executable ("beside"): it records its
  // arguments, one per line, in <root>/calls/<name>.<pid>.
  fakeProgram(name, where = 'path') {
    const calls = path.join(this.root, 'calls');
    fs.mkdirSync(calls, { recursive: true });
    const file = path.join(where === 'path' ? this.fakeBin : this.folder, name);
    fs.writeFileSync(file, `#!/bin/sh\nprintf '%s\\n' "$@" > "${calls}/.${name}.$$"\n` +
      `mv "${calls}/.${name}.$$" "${calls}/${name}.$$"\n`, { mode: 0o755 });
  }

  // The argument lists of the fake program's runs so far.
  calls(name) {
    const calls = path.join(this.root, 'calls');
    if (!fs.existsSync(calls)) return [];
    return fs.readdirSync(calls).filter((f) => f.startsWith(`${name}.`))
      .map((f) => fs.readFileSync(path.join(calls, f), 'utf8').split('\n').slice(0, -1));
  }

  // Runs `body`, the text of an async function body that sees `binding`,
  // `helpers` and `args`, in a new host process; resolves with its result,
  // exit status, signal and error output. `wrapper` runs the host under
  // another program (for example with-cupsd). On generation 47 the body runs
  // as a generator function, each `await` a `yield` that the runner resolves,
  // so bodies for both runtimes keep to the syntax Node.js 5 knows.
  run(body, { env = {}, args = {}, wrapper = [], cwd } = {}) {
    const stem = path.join(this.root, `script-${process.hrtime.bigint()}`);
    const prelude = `
const helpers = require(${JSON.stringify(childHelpers)});
const args = ${JSON.stringify(args)};
const binding = require(${JSON.stringify(bindingPath)});`;
    const report = `(result) => process.stdout.write(${JSON.stringify(kResultMark)} + JSON.stringify(result == null ? null : result) + '\\n')`;
    const script = legacyRuntime ? `${stem}.js` : `${stem}.mjs`;
    fs.writeFileSync(script, legacyRuntime ? `'use strict';${prelude}
helpers.runAsync(function* () {\n${body.replace(/\bawait\b/g, 'yield')}\n}).then(${report}, (error) => {
  process.stderr.write(String(error && error.stack || error) + '\\n');
  process.exitCode = 1;
});
` : `
import { createRequire } from 'node:module';
const require = createRequire(import.meta.url);${prelude}
const result = await (async () => {\n${body}\n})();
(${report})(result);
`);
    const command = [...wrapper, this.executable, script];
    return new Promise((resolve) => {
      const child = spawn(command[0], command.slice(1), {
        cwd: cwd ?? path.join(this.root, 'work'), env: this.env(env), stdio: ['ignore', 'pipe', 'pipe'],
      });
      let stdout = '';
      let stderr = '';
      child.stdout.on('data', (data) => { stdout += data; });
      child.stderr.on('data', (data) => { stderr += data; });
      child.on('close', (status, signal) => {
        const at = stdout.lastIndexOf(kResultMark);
        const result = at < 0 ? undefined : JSON.parse(stdout.slice(at + kResultMark.length));
        resolve({ result, status, signal, stderr, stdout: at < 0 ? stdout : stdout.slice(0, at) });
      });
    });
  }

  // The messages of the add-on log, without time stamp and category.
  messages() {
    if (!fs.existsSync(this.logFile)) return [];
    return splitLog(fs.readFileSync(this.logFile, 'latin1'));
  }

  remove() {
    fs.rmSync(this.root, { recursive: true, force: true });
  }
}

// Fails with the child's error output when the host process did not end normally.
export function assertClean(assert, run) {
  assert.equal(run.signal, null, `host ended by ${run.signal}:\n${run.stderr}`);
  assert.equal(run.status, 0, `host exit status ${run.status}:\n${run.stderr}`);
}
