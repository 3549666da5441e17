// 1,000 USB prints queued by the script thread while it keeps listing
// printers, changing the chosen device, asking for its status word and
// collecting printed order ids, and 200 more from a worker thread, all in one process whose add-on is built
// with ThreadSanitizer, beside a private CUPS scheduler that takes a driver
// print every 100 receipts, tracked while the script thread asks for printed
// tasks and for the queues' status words. Passes when no race is reported,
// every order id comes back exactly once, and the devices received every
// receipt.
import assert from 'node:assert/strict';
import path from 'node:path';

import { Host, bindingPath, withCupsd } from '../node/support/host.mjs';
import { FakeUsb } from '../node/support/usb.mjs';

const kMain = 1000;
const kWorker = 200;
// "<p_s><h1>" + 5-byte id + "<p_e>": ESC @, align, mode, the id, three line feeds.
const kReceiptBytes = 2 + 3 + 3 + 5 + 3;

const runtime = process.env.ORVANE_TSAN_RUNTIME;
assert.ok(runtime, 'ORVANE_TSAN_RUNTIME names the ThreadSanitizer runtime');

const host = new Host('tsan');
const usb = new FakeUsb(path.join(host.root, 'usb'));
try {
  const a = usb.printer('1-1', '0416', '5011', 'lp0');
  const b = usb.printer('1-2', '0fe6', '811e', 'lp1');
  const run = await host.run(`
    const { Worker } = await import('node:worker_threads');
    const receipt = (id) => '<p_s><h1>' + id + '<p_e><o_s>' + id + '<o_e>';
    const collected = [];
    const take = () => { const ids = binding.NoDriverGetPrinted(0); if (ids) collected.push(...ids.split(',')); };

    const worker = new Worker(\`
      const { parentPort, workerData } = require('node:worker_threads');
      const b = require(workerData.binding);
      b.NoDriverSetPrinters(workerData.devices[1]);
      const ids = [];
      let next = 0;
      const step = () => {
        for (let i = 0; i < 4 && next < workerData.count; i++, next++) {
          b.NoDriverPrint('<p_s><h1>W' + String(next).padStart(4, '0') + '<p_e><o_s>W' + String(next).padStart(4, '0') + '<o_e>');
        }
        b.NoDriverSetPrinters(workerData.devices[next % 2]);
        b.NoDriverGetStatus('');
        b.NoDriverGetPrinters();
        const got = b.NoDriverGetPrinted(0);
        if (got) ids.push(...got.split(','));
        if (ids.length < workerData.count) setTimeout(step, next < workerData.count ? 0 : 20);
        else parentPort.postMessage(ids);
      };
      step();\`, { eval: true, workerData: { binding: args.binding, devices: args.devices, count: args.worker } });
    const fromWorker = new Promise((resolve, reject) => worker.on('message', resolve).on('error', reject));
    const words = new Set();

    binding.SetMonitorTime(5);
    for (let queued = 0; queued < args.main;) {
      // The device is read when the receipt prints, which may come before
      // this thread's next step: it is chosen before the first receipt.
      binding.NoDriverSetPrinters(args.devices[(queued / 5 + 1) % 2]);
      for (let i = 0; i < 5; i++, queued++) binding.NoDriverPrint(receipt('M' + String(queued).padStart(4, '0')));
      if (queued % 100 === 0) binding.print('<p_s><h1>driver ' + queued + '<p_e><o_s>D' + queued + '<o_e>');
      words.add(binding.NoDriverGetStatus(''));
      binding.GetAllLocalPrintDrivers();
      binding.setDriverName(queued % 2 ? 'Receipt' : 'Held');
      binding.getDriverName();
      binding.GetPrintedTasks('Receipt,Held,Printer ' + queued);
      binding.GetPrinterStatus(queued % 3 ? 'Receipt' : 'Held');
      take();
      await new Promise((resolve) => setImmediate(resolve));
    }
    await helpers.eventually(() => { take(); return collected.length >= args.main; }, 'every main-thread order', 600);
    return { main: collected, worker: await fromWorker, words: [...words].sort() };`, {
    // Only the host gets the ThreadSanitizer runtime, not the scheduler and its tools.
    wrapper: [withCupsd, 'env', `LD_PRELOAD=${runtime}`],
    env: { ...usb.env, TSAN_OPTIONS: 'halt_on_error=1 exitcode=66 second_deadlock_stack=1 ignore_noninstrumented_modules=1' },
    args: { binding: bindingPath, devices: [a.name, b.name], main: kMain, worker: kWorker },
  });

  assert.ok(!run.stderr.includes('ThreadSanitizer'), run.stderr);
  assert.deepEqual([run.status, run.signal], [0, null], run.stderr);
  const expect = (prefix, count) => Array.from({ length: count }, (_, i) => prefix + String(i).padStart(4, '0'));
  assert.deepEqual([...run.result.main].sort(), expect('M', kMain), 'main-thread ids, each once');
  assert.deepEqual([...run.result.worker].sort(), expect('W', kWorker), 'worker ids, each once');
  assert.equal(usb.bytes(a).length + usb.bytes(b).length, (kMain + kWorker) * kReceiptBytes);
  // One-way printers: no answer once asked, nothing known before.
  assert.deepEqual(run.result.words.filter((w) => w !== 'unknown' && w !== 'no-answer'), [], run.result.words.join());
  console.log(`tsan stress: ${kMain + kWorker} USB prints on two threads, no race reported, every order id once`);
} finally {
  usb.close();
  host.remove();
}
