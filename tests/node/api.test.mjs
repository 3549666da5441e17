// The script functions in the real runtime: registration, argument
// checks, defaults and conversions, settings across processes, printer
// listings, shell commands, and the module's loading rules.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import {
  Host, addonRuntime, addonRuntimeOf, assertClean, build, bindingPath, currentOnly, eventually, legacyRuntime, repo,
  scriptFunctions as kFunctions, withCupsd,
} from './support/host.mjs';
import { FakeUsb } from './support/usb.mjs';

const kCountEnforced = new Set(['print', 'printTestMsg', 'setDriverName', 'setDriverWidth', 'savePrinter',
  'openPrintTask', 'openPrintPro', 'QuerySysCommand', 'QuerySysCommand2', 'NoDriverSetPrinters',
  'NoDriverPrint', 'NoDriverGetPrinted', 'SetPrinterCheckTime', 'SetMonitorTime', 'GetPrintedTasks',
  'NoDriverGetStatus',
  'GetPrinterStatus']);

let host;
before(() => { host = new Host('api'); });
after(() => host.remove());

describe('registration', () => {
  test('the module exports its functions in registration order, named as registered', async () => {
    const run = await host.run(`
      return Object.keys(binding).map((key) => [key, typeof binding[key], binding[key].name, binding[key].length]);`);
    assertClean(assert, run);
    assert.deepEqual(run.result, kFunctions.map((name) => [name, 'function', name, 0]));
  });

  test('the library exports only its registration symbols, for the headers\' runtime generation', () => {
    const symbols = execFileSync('nm', ['-D', '--defined-only', bindingPath], { encoding: 'utf8' })
      .trim().split('\n').map((line) => line.split(' ').pop()).sort();
    // Generation 47 has no per-context initializer to look for.
    assert.deepEqual(symbols, legacyRuntime ? ['_register_binding_']
      : ['_register_binding_', `node_register_module_v${addonRuntime.modules}`]);
  });

  // Each runtime refuses the other generation's build with its own message.
  const kBuilds = { 47: path.join(repo, 'build/node47'), 115: path.join(repo, 'build/native') };
  const kRefusals = [
    { runtime: 47, module: 115, message: /Module version mismatch\. Expected 47, got 115\./ },
    { runtime: 115, module: 47, message: /compiled against a different Node\.js version using\s+NODE_MODULE_VERSION 47\. This version of Node\.js requires\s+NODE_MODULE_VERSION 115\./ },
  ];
  for (const { runtime, module, message } of kRefusals) {
    const built = (generation) => fs.existsSync(path.join(kBuilds[generation], 'bin', 'binding.node'));
    test(`the generation ${runtime} runtime refuses the generation ${module} build`,
      { skip: !(built(runtime) && built(module)) && 'needs the builds of both generations' }, () => {
        const { executable } = addonRuntimeOf(kBuilds[runtime]);
        const addon = path.join(kBuilds[module], 'bin', 'binding.node');
        let failure;
        try {
          execFileSync(executable, ['-e', `require(${JSON.stringify(addon)})`], { encoding: 'utf8', stdio: 'pipe' });
        } catch (error) {
          failure = error;
        }
        assert.ok(failure, 'the load was refused');
        assert.equal(failure.signal, null, failure.stderr);
        assert.match(failure.stderr, message);
      });
  }

  test('the printer object lives in isolate data slot 2, which the runtime leaves free', { skip: currentOnly('worker threads') }, async () => {
    const run = await host.run(`
      const probe = require(args.probe);
      const { Worker } = await import('node:worker_threads');
      const before = probe.slots();
      // Runtime work of every kind, so a slot it used would show.
      await new Promise((resolve) => new Worker('0', { eval: true }).on('exit', resolve));
      await (await import('node:fs/promises')).readFile(process.execPath, { length: 16 });
      (await import('node:crypto')).randomBytes(16);
      globalThis.gc?.();
      const busy = probe.slots();
      binding.getDriverName();
      return { before, busy, after: probe.slots() };`, { args: { probe: path.join(build, 'bin', 'slot_probe.node') } });
    assertClean(assert, run);
    assert.deepEqual(run.result.before, [false, false, false, false]);
    assert.deepEqual(run.result.busy, [false, false, false, false]);
    assert.deepEqual(run.result.after, [false, false, true, false]);
  });

  test('worker threads load the add-on, each with a printer object of its own', { skip: currentOnly('worker threads') }, async () => {
    const run = await host.run(`
      const { Worker } = await import('node:worker_threads');
      binding.setDriverName('main printer');
      const fromWorker = await new Promise((resolve, reject) => {
        const worker = new Worker(\`
          const { parentPort } = require('node:worker_threads');
          const b = require(\${JSON.stringify(args.binding)});
          const fresh = b.getDriverName();
          b.setDriverName('worker printer');
          parentPort.postMessage({ fresh, set: b.getDriverName(), count: Object.keys(b).length });\`, { eval: true });
        worker.on('message', resolve).on('error', reject);
      });
      return { fromWorker, main: binding.getDriverName() };`, { args: { binding: bindingPath } });
    assertClean(assert, run);
    assert.deepEqual(run.result, {
      fromWorker: { fresh: 'XP-58', set: 'worker printer', count: kFunctions.length }, main: 'main printer',
    });
  });
});

describe('arguments', () => {
  test('functions that need an argument throw "Wrong number of arguments" without one; the others do not', async () => {
    const run = await host.run(`
      const outcome = {};
      for (const name of Object.keys(binding)) {
        try {
          const value = binding[name]();
          outcome[name] = 'returned ' + (Array.isArray(value) ? 'array' : typeof value);
        } catch (error) {
          outcome[name] = error.constructor.name + ': ' + error.message;
        }
      }
      return outcome;`);
    assertClean(assert, run);
    for (const name of kFunctions) {
      if (kCountEnforced.has(name)) assert.equal(run.result[name], 'TypeError: Wrong number of arguments', name);
      else assert.match(run.result[name], /^returned (string|number|array)$/, name);
    }
  });

  test('defaults are "XP-58" and 58; widths go through ToInt32', async () => {
    const run = await host.run(`
      const seen = [binding.getDriverName(), binding.getDriverWidth()];
      for (const width of ['80', 'eighty', 80.9, -3, 4294967301, {}, [], null, true]) {
        seen.push([binding.setDriverWidth(width), binding.getDriverWidth()]);
      }
      return seen;`);
    assertClean(assert, run);
    assert.deepEqual(run.result, ['XP-58', 58, [0, 80], [0, 0], [0, 80], [0, -3], [0, 5], [0, 0], [0, 0], [0, 0], [0, 1]]);
  });

  test('printer names round-trip through the ANSI code page, non-ASCII ones included', async () => {
    const names = { 'zh_CN.UTF-8': ['收银打印机 58', '厨房-2'], 'de_DE.UTF-8': ['Café Drucker', 'Größe'] };
    for (const [locale, list] of Object.entries(names)) {
      const run = await host.run(`
        return args.list.map((name) => [binding.setDriverName(name), binding.getDriverName()]);`,
      { env: { LANG: locale }, args: { list } });
      assertClean(assert, run);
      assert.deepEqual(run.result, list.map((name) => [0, name]), locale);
    }
    // A character the code page cannot hold becomes its default character.
    const run = await host.run(`binding.setDriverName('Bon appétit 收银'); return binding.getDriverName();`,
      { env: { LANG: 'de_DE.UTF-8' } });
    assert.equal(run.result, 'Bon appétit ??');
  });

  test('a string argument ends at its first zero character', async () => {
    const run = await host.run(`
      binding.setDriverName('Kitchen\\0ignored');
      binding.NoDriverSetPrinters('VID_1\\0x');
      return [binding.getDriverName(), binding.savePrinter('Front\\0Desk'), binding.getSelectPrinter()];`);
    assertClean(assert, run);
    assert.deepEqual(run.result, ['Kitchen', 0, 'Front']);
    assert.ok(host.messages().includes('SetUSBprintDriver VID_1'));
  });
});

describe('settings file', () => {
  test('savePrinter keeps the name for the next process; getSelectPrinter logs the executable folder', async () => {
    const name = 'Front Desk 收银 "58"';
    const first = await host.run(`return binding.savePrinter(args.name);`, { args: { name } });
    assertClean(assert, first);
    assert.equal(first.result, 0);
    const second = await host.run(`return binding.getSelectPrinter();`);
    assertClean(assert, second);
    assert.equal(second.result, name);
    const messages = host.messages();
    const at = messages.lastIndexOf('getSelectPrinter');
    assert.deepEqual(messages.slice(at, at + 5),
      ['getSelectPrinter', 'begin get local print driver', 'getDriverPrinter', 'data is NULL', host.folder]);
  });

  test('a long name comes back cut to 259 bytes; a write that fails gives 1', async () => {
    const run = await host.run(`
      const saved = binding.savePrinter('n'.repeat(300));
      return [saved, binding.getSelectPrinter().length];`);
    assert.deepEqual(run.result, [0, 259]);
    const blocked = new Host('api-blocked');
    try {
      fs.mkdirSync(blocked.configFile);
      const failed = await blocked.run(`return [binding.savePrinter('x'), binding.getSelectPrinter()];`);
      assertClean(assert, failed);
      assert.deepEqual(failed.result, [1, '']);
    } finally {
      blocked.remove();
    }
  });

  test('config.ini bytes that are not UTF-8 reach the script as replacement characters', async () => {
    fs.writeFileSync(host.configFile, Buffer.concat([Buffer.from('[printer]\ntype=A'), Buffer.from([0xff, 0xfe]),
      Buffer.from('B\n')]));
    const run = await host.run(`return binding.getSelectPrinter();`);
    assertClean(assert, run);
    assert.equal(run.result, 'A\uFFFD\uFFFDB');
  });
});

describe('printer listings', () => {
  test('USB printers come first with "nodriver" "true", spooler printers after them with "false"', async () => {
    const usb = new FakeUsb(path.join(host.root, 'usb-listing'));
    try {
      usb.printer('1-1', '0416', '5011', 'lp0');
      usb.device('1-2', '046d', 'c52b', 'USB Receiver');
      usb.printer('1-10', '0fe6', '811e', 'lp1');
      const run = await host.run(`
        return { all: binding.GetAllLocalPrintDrivers(), local: binding.getLocalPrintDriver(),
                 usb: binding.NoDriverGetPrinters() };`, { env: usb.env, wrapper: [withCupsd] });
      assertClean(assert, run);
      const { all, local } = run.result;
      assert.deepEqual(run.result.usb, [
        { type: 'VID_0416&PID_5011', port: 'USB' }, { type: 'VID_0FE6&PID_811E', port: 'USB' }]);
      assert.deepEqual(all.slice(0, 2), run.result.usb.map((p) => ({ ...p, nodriver: 'true' })));
      // The fax, OneNote and XPS drivers are left out; a fax-like name is not.
      assert.deepEqual(local.map((p) => p.type).sort(), ['Fax-Counter', 'Held', 'Kitchen', 'Receipt']);
      assert.ok(local.every((p) => Object.keys(p).join() === 'type,port' && p.port.startsWith('capture:')));
      assert.deepEqual(all.slice(2), local.map((p) => ({ ...p, nodriver: 'false' })));
    } finally {
      usb.close();
    }
  });

  test('without a scheduler or USB devices the listings are empty arrays', async () => {
    const run = await host.run(`
      return [binding.getLocalPrintDriver(), binding.GetAllLocalPrintDrivers(), binding.NoDriverGetPrinters(),
              binding.openPrintTask('Receipt'), binding.openPrintPro('Receipt'), binding.GetPrintedTasks('Receipt,Held')];`,
    { env: { ORVANE_SYSFS_ROOT: path.join(host.root, 'no-sysfs') } });
    assertClean(assert, run);
    assert.deepEqual(run.result, [[], [], [], 1, 1, '']);
  });
});

describe('shell commands', () => {
  test('QuerySysCommand2 runs the Control Panel command for a canonical name and refuses anything else', async () => {
    host.fakeProgram('cmd', 'beside');
    const run = await host.run(`
      return [binding.QuerySysCommand2('x & del /q *'), binding.QuerySysCommand2('..\\\\evil" /x'),
              binding.QuerySysCommand2(''), binding.QuerySysCommand2('Microsoft.DevicesAndPrinters')];`);
    assertClean(assert, run);
    assert.deepEqual(run.result, [1, 1, 1, 1]);
    const calls = await eventually(() => host.calls('cmd').length > 0 && host.calls('cmd'), 'the fake cmd');
    assert.deepEqual(calls, [['/c', 'control.exe', '/name', 'Microsoft.DevicesAndPrinters']]);
    const messages = host.messages();
    for (const refused of ['x & del /q *', '..\\evil" /x', '']) {
      assert.ok(messages.includes(`QuerySysCmd2 refused: ${refused}`), refused);
    }
  });

  test('QuerySysCommand hands its text to the desktop opener as one argument and returns 1', async () => {
    host.fakeProgram('xdg-open');
    const target = 'https://example.invalid/a b?x=1&y=$(id)';
    const run = await host.run(`return binding.QuerySysCommand(args.target);`, { args: { target } });
    assertClean(assert, run);
    assert.equal(run.result, 1);
    assert.deepEqual(await eventually(() => host.calls('xdg-open').length > 0 && host.calls('xdg-open'), 'xdg-open'),
      [[target]]);
  });
});
