// Benchmarks of the add-on hosted in Node.js (figures, not pass/fail):
// 1. the script thread's cost of one NoDriverPrint, print and
//    NoDriverGetStatus and GetPrinterStatus call, median and 99th percentile
//    over 10,000 calls each, with the log folder present (every call writes
//    its log lines) and prints running meanwhile, beside calls with the same
//    log lines that queue nothing;
// 2. the end-to-end rate of 10,000 queued receipts into a fake USB printer,
//    checking that none is lost.
// The last line holds the figures as JSON after "@@figures@@", for make bench.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';

import { Host } from '../../tests/node/support/host.mjs';
import { FakeUsb } from '../../tests/node/support/usb.mjs';

const kCalls = 10000;
const host = new Host('bench');
const usb = new FakeUsb(path.join(host.root, 'usb'));
const figures = {};
try {
  const printer = usb.printer('1-1', '0416', '5011', 'lp0');

  const measureScriptThread = async (label) => {
    const cost = await host.run(`
    const receipt = '<p_s><c1>Table 5<h2>\\nTea x2        8.00\\nTotal         8.00\\n<bc>1234567890<p_e><o_s>B1<o_e>';
    const measure = (call) => {
      const times = [];
      for (let i = 0; i < args.calls; i++) {
        const start = process.hrtime.bigint();
        call(receipt);
        times.push(Number(process.hrtime.bigint() - start) / 1000);
      }
      times.sort((a, b) => a - b);
      return { median: times[Math.floor(times.length / 2)], p99: times[Math.floor(times.length * 0.99)] };
    };
    binding.NoDriverSetPrinters(args.device);
    binding.setDriverName('No Such Printer');
    let named = 0;
    // getDriverWidth writes as many log lines as NoDriverPrint, and
    // NoDriverGetPrinted as GetPrinterStatus, and neither queues anything:
    // the part of the cost that is the log's.
    const result = { NoDriverPrint: measure(binding.NoDriverPrint), print: measure(binding.print),
      NoDriverGetStatus: measure(() => binding.NoDriverGetStatus('')),
      // One name: after the first call a read waits, and the call queues none.
      GetPrinterStatus: measure(() => binding.GetPrinterStatus('No Such Printer')),
      // A new name each call: each call queues a read.
      'GetPrinterStatus, a read queued': measure(() => binding.GetPrinterStatus('No Such Printer ' + named++)),
      'NoDriverGetPrinted (log lines only)': measure(binding.NoDriverGetPrinted),
      'getDriverWidth (log lines only)': measure(binding.getDriverWidth) };
    process.stdout.write('\\n@@orvane-result@@' + JSON.stringify(result) + '\\n');
    // The queued prints are not waited for: the exit gives them up to 30 s, then logs the rest.
    process.exit(0);`, { env: usb.env, args: { calls: kCalls, device: printer.name } });
    assert.equal(cost.status, 0, `${cost.signal} ${cost.stderr}`);
    figures[label] = cost.result;
    for (const [name, { median, p99 }] of Object.entries(cost.result)) {
      console.log(`${label}: ${name}: script-thread cost over ${kCalls} calls: median ${median.toFixed(1)} µs, ` +
        `p99 ${p99.toFixed(1)} µs`);
    }
  };
  const logged = host.messages().length;
  await measureScriptThread('with log');
  // The script thread's own lines, every one of them, in call order: none
  // lost or moved by the writer thread (the print thread's lines interleave).
  const own = new Set(['begin set usb print driver', 'getDriverPrinter', 'get data', 'data is NULL', 'print',
    'begin get driver', 'begin print order', `SetUSBprintDriver ${printer.name}`]);
  const seen = host.messages().slice(logged).filter((m) => own.has(m));
  const repeat = (lines) => Array.from({ length: kCalls }, () => lines).flat();
  const expected = ['begin set usb print driver', `SetUSBprintDriver ${printer.name}`, 'getDriverPrinter', 'data is NULL',
    'begin get driver', 'getDriverPrinter', 'get data',
    ...repeat(['begin set usb print driver', 'getDriverPrinter', 'get data']),
    ...repeat(['print', 'begin get driver', 'getDriverPrinter', 'get data', 'begin print order']),
    // NoDriverGetStatus, GetPrinterStatus twice over, NoDriverGetPrinted.
    ...repeat(['getDriverPrinter', 'get data']), ...repeat(['getDriverPrinter', 'get data']), ...repeat(['getDriverPrinter', 'get data']),
    ...repeat(['getDriverPrinter', 'get data']),
    ...repeat(['begin get driver', 'getDriverPrinter', 'get data'])];
  assert.deepEqual(seen, expected, 'the script thread\'s log lines, all and in order');
  console.log(`with log: ${seen.length} script-thread log lines, all there and in call order`);
  // Without the log folder nothing is written, but the log lock is still taken.
  const logFolder = path.join(host.folder, 'log');
  fs.renameSync(logFolder, `${logFolder}.off`);
  await measureScriptThread('without log folder');
  fs.renameSync(`${logFolder}.off`, logFolder);

  const before = usb.bytes(printer).length;
  const rate = await host.run(`
    binding.NoDriverSetPrinters(args.device);
    const start = process.hrtime.bigint();
    for (let i = 0; i < args.calls; i++) {
      const id = 'R' + String(i).padStart(5, '0');
      binding.NoDriverPrint('<p_s><h1>Receipt ' + id + '\\n<w1>Total 8.00<p_e><o_s>' + id + '<o_e>');
    }
    const queued = Number(process.hrtime.bigint() - start) / 1e6;
    const ids = [];
    await helpers.eventually(() => {
      const got = binding.NoDriverGetPrinted(0);
      if (got) ids.push(...got.split(','));
      return ids.length >= args.calls;
    }, 'every receipt', 1200);
    return { queued, seconds: Number(process.hrtime.bigint() - start) / 1e9, ids };`,
  { env: usb.env, args: { calls: kCalls, device: printer.name } });
  assert.equal(rate.status, 0, rate.stderr);
  const { queued, seconds, ids } = rate.result;
  const unique = new Set(ids);
  // ESC @, then align + mode + "Receipt Rnnnnn\n" and align + size + "Total 8.00", then three line feeds.
  const perReceipt = 2 + 3 + 3 + 15 + 3 + 3 + 10 + 3;
  const bytes = usb.bytes(printer).length - before;
  console.log(`${kCalls} queued receipts: queued in ${queued.toFixed(0)} ms, all printed after ${seconds.toFixed(2)} s ` +
    `(${(kCalls / seconds).toFixed(0)} receipts/s); ids back ${ids.length}, distinct ${unique.size}; ` +
    `device bytes ${bytes} of ${kCalls * perReceipt} expected`);
  assert.equal(unique.size, kCalls);
  assert.equal(bytes, kCalls * perReceipt);
  figures.queued = { receiptsPerSecond: kCalls / seconds, queuedMs: queued };
  console.log(`@@figures@@${JSON.stringify(figures)}`);
} finally {
  await usb.close();
  host.remove();
}
