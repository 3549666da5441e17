// Receipts from the script call to the printer, in the real runtime with the
// real printing parts: USB prints into fake devices, driver prints into raw
// queues of a private CUPS scheduler; the bytes, the log's order of lines,
// and what the script can ask afterwards.
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { Host, assertClean, bindingPath, currentOnly, withCupsd } from './support/host.mjs';
import { FakeUsb } from './support/usb.mjs';

// Two paragraphs and a 17-digit barcode, an order id at the end.
const kReceipt = '<p_s><c1>Table 5<h2>\nTea x2\n<bc>12345<p_e>dropped<p_s><h1>Total<w1><p_e>' +
  '<p_s><bc>12345678901234567<p_e><o_s>A-1001<o_e>';

// Hex text of byte pieces: hex digits (blanks allowed), or text() pieces.
const text = (t) => ({ text: t });
const hex = (...parts) => parts.map((p) => (typeof p === 'string' ? p.replace(/ /g, '')
  : Buffer.from(p.text, 'latin1').toString('hex'))).join('');

// What each paragraph of kReceipt becomes, by route.
const kParagraphBody = [
  hex('1b40', '1b6101 1b2130', text('Table 5'), '1b6100 1b2108', text('\nTea x2\n'), '1b6101 1d683c 1d7702 1d6b49 07 7b42', text('12345')),
  hex('1b40', '1b6100 1b2102', text('Total'), '1b6100 1d2110'),
];
const kDeviceBytes = [
  kParagraphBody[0] + '0a0a0a',
  kParagraphBody[1] + '0a0a0a',
  hex('1b40 1b6101 1d683c 1d7702', '1d6b49 0b 7b43 01172d4359 01172d43', '0a0a0a'),
];
const kSpoolerBytes = [
  kParagraphBody[0] + '0a0a1d564101',
  kParagraphBody[1] + '0a0a1d564101',
  hex('1b40 1b6101 1d683c 1d7702', '1d6b49 13 7b42', text('12345678901234567'), '0a0a1d564101'),
];

let host;
let usb;
let first;
let second;
before(() => {
  host = new Host('print');
  usb = new FakeUsb(path.join(host.root, 'usb'));
  first = usb.printer('1-1', '0416', '5011', 'lp0');
  second = usb.printer('1-2', '0fe6', '811e', 'lp1');
});
after(() => {
  usb.close();
  host.remove();
});

// Messages from the last one equal to `from` on.
function messagesFrom(from) {
  const messages = host.messages();
  return messages.slice(messages.lastIndexOf(from));
}

describe('USB route', () => {
  test('NoDriverPrint writes each paragraph as one device cycle and logs every write in order', async () => {
    const before = usb.bytes(first).length;
    const run = await host.run(`
      binding.NoDriverSetPrinters(args.name);
      return binding.NoDriverPrint(args.receipt);`, { env: usb.env, args: { name: first.name, receipt: kReceipt } });
    assertClean(assert, run);
    assert.equal(run.result, 0);
    assert.equal(usb.bytes(first).subarray(before).toString('hex'), kDeviceBytes.join(''));

    const writes = (hexes) => hexes.map((h) => `WriteFile ret:1, Written: ${h.length / 2}`);
    const cycle = (pieces) => ['WriteFile ret:1, Written: 2', ...writes(pieces), 'WriteFile ret:1, Written: 3'];
    assert.deepEqual(messagesFrom('begin set usb print driver').slice(0, 3),
      ['begin set usb print driver', 'getDriverPrinter', 'get data']);
    const work = messagesFrom('begin set usb print driver').slice(3);
    assert.equal(work[0], `WritePrintData ${kReceipt}`.slice(0, 199));
    assert.deepEqual(work.slice(1), [
      `begin print ${first.path}`,
      ...cycle(['1b6101', '1b2130', hex(text('Table 5')), '1b6100', '1b2108', hex(text('\nTea x2\n')),
        '1b6101', '1d683c', '1d7702', '1d6b49077b42', hex(text('12345'))]),
      ...cycle(['1b6100', '1b2102', hex(text('Total')), '1b6100', '1d2110', '']),
      ...cycle(['1b6101', '1d683c', '1d7702', '1d6b490b7b43', '01172d435901172d43']),
      'printAsync ret: 0',
    ]);
  });

  test('text reaches the device in the ANSI code page', async () => {
    const before = usb.bytes(first).length;
    const run = await host.run(`
      binding.NoDriverSetPrinters(args.name);
      binding.NoDriverPrint('<p_s><h1>合计 20元<p_e>');`, { env: { ...usb.env, LANG: 'zh_CN.UTF-8' }, args: { name: first.name } });
    assertClean(assert, run);
    assert.equal(usb.bytes(first).subarray(before).toString('hex'),
      hex('1b40 1b6100 1b2102 bacfbcc6203230d4aa 0a0a0a'));
  });

  test('NoDriverGetPrinted gives the printed order ids once, in print order', async () => {
    const run = await host.run(`
      binding.NoDriverSetPrinters(args.name);
      binding.NoDriverPrint('<p_s><h1>one<p_e><o_s>7001<o_e>');
      binding.NoDriverPrint('<p_s><h1>no id<p_e>');
      binding.NoDriverPrint('<p_s><h1>two<p_e><o_s>7002<o_e>');
      await helpers.logged('printAsync ret: 0', 3);
      return [binding.NoDriverGetPrinted(0), binding.NoDriverGetPrinted('x')];`, { env: usb.env, args: { name: first.name } });
    assertClean(assert, run);
    assert.deepEqual(run.result, ['7001,7002', '']);
  });

  test('failures show only in the log: no device chosen, a name not plugged in', async () => {
    const run = await host.run(`
      const results = [binding.NoDriverPrint('<p_s><h1>x<p_e><o_s>9<o_e>')];
      await helpers.logged('printAsync ret:', 1);
      binding.NoDriverSetPrinters('VID_FFFF&PID_0001');
      results.push(binding.NoDriverPrint('<p_s><h1>x<p_e><o_s>9<o_e>'));
      await helpers.logged('printAsync ret:', 2);
      results.push(binding.NoDriverGetPrinted(0));
      return results;`, { env: usb.env });
    assertClean(assert, run);
    assert.deepEqual(run.result, [0, 0, '']);
    assert.deepEqual(host.messages().filter((m) => m.startsWith('printAsync ret:')).slice(-2),
      ['printAsync ret: -1', 'printAsync ret: -3']);
  });

  test('the device is looked up when the print runs: a choice made after queueing applies', async () => {
    const before = [usb.bytes(first).length, usb.bytes(second).length];
    // The second request cannot start before the script returns to the
    // event loop, so the new choice is in place when it runs.
    const run = await host.run(`
      binding.NoDriverSetPrinters(args.first);
      binding.NoDriverPrint('<p_s><h1>A<p_e>');
      binding.NoDriverPrint('<p_s><h1>B<p_e>');
      binding.NoDriverSetPrinters(args.second);`, { env: usb.env, args: { first: first.name, second: second.name } });
    assertClean(assert, run);
    const onSecond = usb.bytes(second).subarray(before[1]).toString('hex');
    assert.ok(onSecond.endsWith(hex('1b40 1b6100 1b2102', text('B'), '0a0a0a')), onSecond);
    const total = usb.bytes(first).length - before[0] + onSecond.length / 2;
    assert.equal(total, 2 * 12, 'both receipts printed, each once');
  });

  test('prints queued by a worker thread complete, also when the worker is terminated right after',
    { skip: currentOnly('worker threads') }, async () => {
    const before = usb.bytes(second).length;
    const run = await host.run(`
      const { Worker } = await import('node:worker_threads');
      const code = \`
        const { parentPort, workerData } = require('node:worker_threads');
        const b = require(workerData.binding);
        b.NoDriverSetPrinters(workerData.name);
        for (let i = 0; i < 20; i++) b.NoDriverPrint('<p_s><h1>W' + String(i).padStart(2, '0') + '<p_e>');
        parentPort.postMessage('queued');\`;
      const worker = new Worker(code, { eval: true, workerData: { binding: args.binding, name: args.name } });
      await new Promise((resolve) => worker.once('message', resolve));
      await worker.terminate();`, { env: usb.env, args: { binding: bindingPath, name: second.name } });
    assertClean(assert, run);
    const expected = Array.from({ length: 20 }, (_, i) =>
      hex('1b40 1b6100 1b2102', text(`W${String(i).padStart(2, '0')}`), '0a0a0a')).join('');
    assert.equal(usb.bytes(second).subarray(before).toString('hex'), expected);
  });
});

describe('spooler route', () => {
  test('print sends each paragraph as a RAW job to the chosen queue, in the logged order', async () => {
    const run = await host.run(`
      binding.setDriverName('Receipt');
      const result = binding.print(args.receipt);
      await helpers.logged('driverPrintAsync ret:', 1);
      await helpers.eventually(() => helpers.capturedJobs('Receipt').length >= 3, 'three captured jobs');
      return { result, jobs: helpers.capturedJobs('Receipt') };`, { wrapper: [withCupsd], args: { receipt: kReceipt } });
    assertClean(assert, run);
    assert.equal(run.result.result, 0);
    assert.deepEqual(run.result.jobs, kSpoolerBytes.map((h) => ({ title: 'tamq_A-1001', hex: h })));

    const messages = messagesFrom('print');
    assert.deepEqual(messages.slice(0, 5), ['print', 'begin get driver', 'getDriverPrinter', 'get data', 'begin print order']);
    assert.equal(messages[5], `PrintOrder ${kReceipt}`.slice(0, 199));
    assert.deepEqual(messages.slice(6, 9), ['PrintPara', 'PrintPara', 'PrintPara']);
    assert.match(messages[9], /^driverPrintAsync ret: [01]$/);
    assert.equal(messages.length, 10);
  });

  test('print on a printer that does not exist returns 0; the log shows the failed result', async () => {
    const run = await host.run(`
      binding.setDriverName('No Such Printer');
      const result = binding.print('<p_s><h1>x<p_e>');
      await helpers.logged('driverPrintAsync ret:', 1);
      return result;`, { wrapper: [withCupsd] });
    assertClean(assert, run);
    assert.equal(run.result, 0);
    // Both queue counts are -1, so the queue "did not grow".
    assert.deepEqual(messagesFrom('PrintOrder <p_s><h1>x<p_e>'),
      ['PrintOrder <p_s><h1>x<p_e>', 'PrintPara', 'driverPrintAsync ret: 1']);
  });

  test('GetPrintedTasks reports a tracked order once its jobs have left the queue, and only once', async () => {
    const run = await host.run(`
      binding.SetMonitorTime(60);
      binding.setDriverName('Held');
      binding.print('<p_s><h1>one<p_e><p_s><h1>two<p_e><o_s>ORDER-42<o_e>');
      await helpers.logged('driverPrintAsync ret:', 1);
      const waiting = binding.GetPrintedTasks('Receipt,Held');
      helpers.cups('cupsenable', 'Held');
      const printed = await helpers.eventually(() => binding.GetPrintedTasks('Held'), 'the order to be reported');
      const again = binding.GetPrintedTasks('Held');
      // Reported as soon as one of its two jobs has left; both print.
      await helpers.eventually(() => helpers.capturedJobs('Held').length === 2, 'both jobs');
      return { waiting, printed, again };`,
    { wrapper: [withCupsd] });
    assertClean(assert, run);
    assert.deepEqual(run.result, { waiting: '', printed: 'ORDER-42', again: '' });
  });

  test('printTestMsg makes its argument the printer and reports whether the test job was queued', async () => {
    const run = await host.run(`
      const queued = binding.printTestMsg('Held');
      const missing = binding.printTestMsg('No Such Printer');
      return [queued, missing, binding.getDriverName()];`, { wrapper: [withCupsd] });
    assertClean(assert, run);
    assert.deepEqual(run.result, [1, 0, 'No Such Printer']);
    const messages = messagesFrom('printTestMsg');
    assert.deepEqual(messages.slice(0, 3),
      ['printTestMsg', 'printTestMsg begin get driverNo Such Printer', 'printTestMsg begin get driver']);
  });
});
