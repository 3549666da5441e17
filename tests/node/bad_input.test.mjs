// Every script function with input a script may hand it by mistake: each
// call gives a defined result or throws a TypeError, and the host survives.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import { Host, assertClean, legacyRuntime } from './support/host.mjs';

// What each function returns when it does not throw.
const kResultType = {
  print: 'number', printTestMsg: 'number', setDriverName: 'number', setDriverWidth: 'number',
  getDriverName: 'string', getDriverWidth: 'number', getLocalPrintDriver: 'array',
  GetAllLocalPrintDrivers: 'array', getSelectPrinter: 'string', savePrinter: 'number', openPrintTask: 'number',
  openPrintPro: 'number', QuerySysCommand: 'number', QuerySysCommand2: 'number', NoDriverGetPrinters: 'array',
  NoDriverSetPrinters: 'number', NoDriverPrint: 'number', NoDriverGetPrinted: 'string',
  SetPrinterCheckTime: 'number', SetMonitorTime: 'number', GetPrintedTasks: 'string', NoDriverGetStatus: 'string',
  GetPrinterStatus: 'string',
};

let host;
before(() => {
  host = new Host('bad-input');
  host.fakeProgram('xdg-open');
  host.fakeProgram('cmd', 'beside');
});
after(() => host.remove());

test('every function with every kind of bad input gives a defined result or a TypeError', async () => {
  const run = await host.run(`
    const inputs = {
      none: [], undefined: [undefined], null: [null], object: [{ a: 1 }], array: [[1, 2]], number: [12.5],
      negative: [-7], nan: [NaN], infinity: [Infinity], symbol: [Symbol('s')],
      throwingToString: [{ toString() { throw new Error('no text'); } }],
      reentrant: [{ toString() { binding.setDriverName('from toString'); return 'Kitchen'; } }],
      huge: ['x'.repeat(10 * 1024 * 1024)], nul: ['ab\\0cd'], loneSurrogate: ['\\uD800x'],
      invalidUtf8: [Buffer.from([0x41, 0xff, 0xfe, 0xc3])], markup: ['<p_s><bc>' + '9'.repeat(600) + '<p_e><o_s><o_e>'],
      extra: ['Kitchen', 2, 3],
    };
    // Generation 47 has no BigInt.
    if (typeof BigInt === 'function') inputs.bigint = [BigInt(10)];
    const outcome = {};
    for (const name of Object.keys(binding)) {
      for (const kind of Object.keys(inputs)) {
        let seen;
        try {
          const value = binding[name].apply(binding, inputs[kind]);
          seen = Array.isArray(value) ? 'array' : typeof value;
        } catch (error) {
          seen = error instanceof TypeError ? 'TypeError' : 'other: ' + error.message;
        }
        outcome[name + ' ' + kind] = seen;
      }
    }
    return outcome;`);
  assertClean(assert, run);
  const unexpected = Object.entries(run.result).filter(([key, seen]) =>
    seen !== kResultType[key.split(' ')[0]] && seen !== 'TypeError' && !(key.endsWith(' throwingToString') && seen === 'other: no text'));
  assert.deepEqual(unexpected, []);
  // Conversions that the engine cannot make throw its TypeError; the rest convert.
  assert.equal(run.result['setDriverName symbol'], 'TypeError');
  assert.equal(run.result['setDriverWidth bigint'], legacyRuntime ? undefined : 'TypeError');
  assert.equal(run.result['setDriverName throwingToString'], 'other: no text');
  assert.equal(run.result['setDriverName huge'], 'number');
  assert.equal(run.result['NoDriverGetPrinted symbol'], 'string', 'its value is not used');
});

test('converted values are the engine\'s: text up to a zero, replacement for what is not UTF-8, 0 for no number', async () => {
  const run = await host.run(`
    const seen = {};
    // savePrinter keeps the argument's UTF-8 bytes; printer names pass the ANSI code page.
    const saved = (value) => { binding.savePrinter(value); return binding.getSelectPrinter(); };
    const name = (value) => { binding.setDriverName(value); return binding.getDriverName(); };
    const width = (value) => { binding.setDriverWidth(value); return binding.getDriverWidth(); };
    seen.nul = [saved('ab\\0cd'), name('ab\\0cd')];
    // The engine writes a lone surrogate as three bytes that are no UTF-8.
    seen.surrogate = [saved('\\uD800x'), name('\\uD800x')];
    seen.invalid = [saved(Buffer.from([0x41, 0xff, 0xfe])), name(Buffer.from([0x41, 0xff, 0xfe]))];
    seen.object = name({ a: 1 });
    seen.nullName = name(null);
    seen.huge = name('y'.repeat(10 * 1024 * 1024)).length;
    seen.widths = [width(NaN), width(Infinity), width('12abc'), width(' 42 '), width(-2147483649)];
    seen.reentrant = [binding.setDriverName({ toString() { binding.setDriverName('inner'); return 'outer'; } }),
      binding.getDriverName()];
    return seen;`);
  assertClean(assert, run);
  assert.deepEqual(run.result, {
    nul: ['ab', 'ab'], surrogate: ['\uFFFD\uFFFD\uFFFDx', '???x'], invalid: ['A\uFFFD\uFFFD', 'A??'],
    object: '[object Object]', nullName: 'null', huge: 10 * 1024 * 1024, widths: [0, 0, 0, 42, 2147483647],
    reentrant: [0, 'outer'],
  });
});

test('a 10 MB receipt and a barcode too long for its count byte print without harm', async () => {
  const run = await host.run(`
    binding.NoDriverSetPrinters('VID_0000&PID_0000');
    binding.setDriverName('No Such Printer');
    const results = [binding.NoDriverPrint('<p_s><h1>' + 'z'.repeat(10 * 1024 * 1024) + '<p_e>'),
      binding.print('<p_s><bc>' + '7'.repeat(600) + '<p_e>')];
    await helpers.logged('printAsync ret:', 1);
    await helpers.logged('driverPrintAsync ret:', 1);
    return results;`);
  assertClean(assert, run);
  assert.deepEqual(run.result, [0, 0]);
  const messages = host.messages();
  const line = messages.find((m) => m.startsWith('WritePrintData <p_s><h1>zzz'));
  assert.equal(line.length, 199, 'a logged message is cut to 199 bytes');
  assert.ok(messages.includes('printAsync ret: -2'));
});
