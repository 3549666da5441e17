// What the script is told about its orders when printing goes wrong, one
// table per route: fake USB printers whose FIFO the test stops, paces or
// swaps, or which answer status queries from a state the test sets, and a
// private CUPS scheduler whose queues and jobs the script stops, holds,
// cancels, deletes or takes away, and whose printers' status words it asks
// for. In every case each order is reported exactly once if and only if it
// was printed, never while it still waits, and no queued receipt is lost
// without a log line.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { Host, assertClean, withCupsd } from './support/host.mjs';
import { FakeUsb } from './support/usb.mjs';

// Script-side helpers every case body begins with (syntax of Node.js 5).
const kPrelude = `
  const start = helpers.logMessages().length;
  const lines = () => helpers.logMessages().slice(start);
  const count = (prefix) => lines().filter((m) => m.indexOf(prefix) === 0).length;
  const reported = [];
  const collect = (got) => { if (got) reported.push.apply(reported, got.split(',')); return got; };
  const pad = (i) => ('000' + i).slice(-3);
  // The last n lines of the first print's work step, its result line last.
  const resultTail = (n) => {
    const all = lines();
    let at = -1;
    all.forEach((m, i) => { if (at < 0 && /^(driver)?[pP]rintAsync ret:/.test(m)) at = i; });
    return all.slice(Math.max(0, at - n + 1), at + 1);
  };`;

// ESC @, left alignment, size 1, the text, three line feeds: "<p_s><h1>text<p_e>" on a device.
const deviceBytes = (text) => Buffer.concat([Buffer.from('1b401b61001b2102', 'hex'), Buffer.from(text, 'latin1'),
  Buffer.from('0a0a0a', 'hex')]);
const kBig = 200000;
const kNoPaperBackend = path.join(path.dirname(fileURLToPath(import.meta.url)), 'support', 'nopaper');

// The script's own exit listener, added after the add-on was loaded, counts
// the receipts printed by then: the add-on's drain, listening since the
// load, has run before it.
const kExitListener = `
      process.on('exit', () => require('fs').writeFileSync(args.marker, String(count('printAsync ret: 0'))));`;
const checkAllPrintedAtExit = (run, bytes, messages, marker) => {
  assert.equal(run.status, 0, run.stderr);
  assert.deepEqual(bytes, Buffer.concat(Array.from({ length: 100 }, (_, i) => deviceBytes(`E${String(i).padStart(3, '0')}`))));
  assert.equal(messages.filter((m) => m === 'printAsync ret: 0').length, 100);
  assert.equal(fs.readFileSync(marker, 'utf8'), '100');
  assert.equal(messages.filter((m) => m.indexOf('process exit:') === 0).length, 0);
};

let host;
let usb;
let nextPort = 1;
before(() => {
  host = new Host('faults');
  usb = new FakeUsb(path.join(host.root, 'usb'));
});
after(async () => {
  await usb.close();
  host.remove();
});

const usbCases = [
  {
    name: 'printed: ids come back once, non-ASCII ones as the script gave them',
    env: { LANG: 'zh_CN.UTF-8' },
    body: `
      binding.NoDriverSetPrinters(args.name);
      const ids = ['P-1', '单号-甲2', 'P-3'];
      ids.forEach((id) => binding.NoDriverPrint('<p_s><h1>' + id.length + '<p_e><o_s>' + id + '<o_e>'));
      await helpers.eventually(() => count('printAsync ret:') === 3, 'three prints');
      collect(binding.NoDriverGetPrinted(0));
      collect(binding.NoDriverGetPrinted(0));
      return { reported, results: lines().filter((m) => m.indexOf('printAsync ret:') === 0), word: binding.NoDriverGetStatus('') };`,
    check: (result, bytes) => {
      assert.deepEqual(result.reported, ['P-1', '单号-甲2', 'P-3']);
      // A one-way printer (a FIFO here, as usblp without a way back): no answer, and no query sent.
      assert.equal(result.word, 'no-answer');
      assert.deepEqual(result.results, Array(3).fill('printAsync ret: 0'));
      assert.deepEqual(bytes, Buffer.concat(['3', '5', '3'].map(deviceBytes)));
    },
  },
  {
    name: 'a device that stops reading: listings return while the print is blocked; the receipt is not reported',
    setup: (printer) => { printer.paused = true; },
    body: `
      binding.NoDriverSetPrinters(args.name);
      binding.NoDriverPrint('<p_s><h1>' + 'x'.repeat(args.big) + '<p_e><o_s>S-1<o_e>');
      // The device has taken part of the paragraph and takes no more.
      await helpers.eventually(() => lines().some((m) => /^WriteFile ret:1, Written: \\d{4,}$/.test(m)), 'a partial write');
      const listed = [binding.NoDriverGetPrinters().length, binding.GetAllLocalPrintDrivers().length,
        binding.getLocalPrintDriver().length];
      collect(binding.NoDriverGetPrinted(0));
      binding.NoDriverSetPrinters(args.name);
      const blockedMeanwhile = count('printAsync ret:') === 0;
      await helpers.eventually(() => count('printAsync ret:') === 1, 'the print to give up');
      collect(binding.NoDriverGetPrinted(0));
      return { reported, listed, blockedMeanwhile, tail: resultTail(3) };`,
    check: (result) => {
      assert.equal(result.blockedMeanwhile, true, 'a listing returned while the print was still blocked');
      assert.ok(result.listed[0] >= 1 && result.listed[1] === result.listed[0], String(result.listed));
      assert.deepEqual(result.reported, []);
      assert.equal(result.tail[0], 'WriteFile ret:0, Written: 0');
      assert.match(result.tail[1], /^device write incomplete: \d+ of 200000 bytes$/);
      assert.equal(result.tail[2], 'printAsync ret: -7');
    },
  },
  {
    name: 'short writes: a device that takes a little at a time gets every byte, and the order is reported',
    setup: (printer) => { printer.pace = 4096; },
    body: `
      binding.NoDriverSetPrinters(args.name);
      binding.NoDriverPrint('<p_s><h1>' + 'w'.repeat(args.big) + '<p_e><o_s>W-1<o_e>');
      await helpers.eventually(() => count('printAsync ret:') === 1, 'the print');
      collect(binding.NoDriverGetPrinted(0));
      return { reported, writes: count('WriteFile ret:1'), result: resultTail(1)[0] };`,
    check: (result, bytes) => {
      assert.deepEqual(result.reported, ['W-1']);
      assert.equal(result.result, 'printAsync ret: 0');
      // Five pieces, the long one taken in parts.
      assert.ok(result.writes > 5, `${result.writes} writes`);
      assert.deepEqual(bytes, deviceBytes('w'.repeat(kBig)));
    },
  },
  {
    name: 'a device that disappears mid-receipt: the next write fails and the receipt is not reported',
    setup: (printer) => { printer.paused = true; },
    body: `
      const fs = require('fs');
      binding.NoDriverSetPrinters(args.name);
      binding.NoDriverPrint('<p_s><h1>' + 'x'.repeat(args.big) + '<p_e><p_s><h1>tail<p_e><o_s>G-1<o_e>');
      await helpers.eventually(() => lines().some((m) => /^WriteFile ret:1, Written: \\d{4,}$/.test(m)), 'a partial write');
      // Unplugged: the node now fails every write; what is left of the
      // first paragraph still drains from the old one.
      fs.renameSync(args.path, args.path + '.gone');
      fs.symlinkSync('/dev/full', args.path);
      const old = fs.openSync(args.path + '.gone', fs.constants ? fs.constants.O_RDONLY | fs.constants.O_NONBLOCK : 2048);
      const buffer = Buffer.alloc ? Buffer.alloc(65536) : new Buffer(65536);
      await helpers.eventually(() => {
        try { while (fs.readSync(old, buffer, 0, buffer.length, null) > 0); } catch (e) { if (e.code !== 'EAGAIN') throw e; }
        return count('printAsync ret:') === 1;
      }, 'the print');
      fs.closeSync(old);
      collect(binding.NoDriverGetPrinted(0));
      return { reported, tail: resultTail(4) };`,
    check: (result) => {
      assert.deepEqual(result.reported, []);
      assert.deepEqual(result.tail, ['WriteFile ret:1, Written: 3', 'WriteFile ret:0, Written: 0',
        'device write incomplete: 0 of 2 bytes', 'printAsync ret: -7']);
    },
  },
  {
    name: 'process.exit() with 100 receipts queued: all of them print, before the script\'s own exit listener runs',
    body: `${kExitListener}
      binding.NoDriverSetPrinters(args.name);
      for (let i = 0; i < 100; i++) binding.NoDriverPrint('<p_s><h1>E' + pad(i) + '<p_e><o_s>E' + pad(i) + '<o_e>');
      process.exit(0);`,
    exits: true,
    check: checkAllPrintedAtExit,
  },
  {
    name: 'the script ends with 100 receipts queued: all of them print, before the script\'s own exit listener runs',
    body: `${kExitListener}
      binding.NoDriverSetPrinters(args.name);
      for (let i = 0; i < 100; i++) binding.NoDriverPrint('<p_s><h1>E' + pad(i) + '<p_e><o_s>E' + pad(i) + '<o_e>');
      return null;`,
    exits: true,
    check: checkAllPrintedAtExit,
  },
  {
    name: 'a busy script thread: queued receipts print while it never returns to its event loop',
    body: `
      binding.NoDriverSetPrinters(args.name);
      for (let i = 0; i < 5; i++) binding.NoDriverPrint('<p_s><h1>B' + i + '<p_e><o_s>B' + i + '<o_e>');
      const since = Date.now();
      while (count('printAsync ret:') < 5 && Date.now() - since < 60000) { /* busy */ }
      collect(binding.NoDriverGetPrinted(0));
      return { reported };`,
    check: (result, bytes) => {
      assert.deepEqual(result.reported, ['B0', 'B1', 'B2', 'B3', 'B4']);
      assert.deepEqual(bytes, Buffer.concat(['B0', 'B1', 'B2', 'B3', 'B4'].map(deviceBytes)));
    },
  },
];

// Two-way printers: the receipts S-0, S-1, ... of one paragraph each, then
// the word; at the end the word's own fresh query runs before the process
// exits. `queries` is what the printer was asked, in order: S is a status
// cycle (DLE EOT 1, 2, 4), C the one after a receipt (GS r 1, DLE EOT 2, 4).
const S = ['100401', '100402', '100404'];
const C = ['1d7201', '100402', '100404'];
const statusRow = (name, pty, { receipts = 1, codes = [0], sent, word, notes = [], queries }) => ({
  name, pty, args: { receipts },
  body: `
      binding.NoDriverSetPrinters(args.name);
      for (let i = 0; i < args.receipts; i++) binding.NoDriverPrint('<p_s><h1>S' + i + '<p_e><o_s>S-' + i + '<o_e>');
      await helpers.eventually(() => count('printAsync ret:') === args.receipts, 'the prints');
      collect(binding.NoDriverGetPrinted(0));
      return { reported, word: binding.NoDriverGetStatus(''), codes: lines().filter((m) => m.indexOf('printAsync ret:') === 0),
        notes: lines().filter((m) => m.indexOf('printer ') === 0) };`,
  check: (result, bytes, asked) => {
    const printed = codes.map((code, i) => (code === 0 ? i : -1)).filter((i) => i >= 0);
    assert.deepEqual(result.codes, codes.map((code) => `printAsync ret: ${code}`));
    assert.deepEqual(result.reported, printed.map((i) => `S-${i}`));
    assert.deepEqual(bytes, Buffer.concat((sent ?? printed).map((i) => deviceBytes(`S${i}`))));
    assert.equal(result.word, word);
    assert.deepEqual(result.notes, notes);
    assert.deepEqual(asked, queries);
  },
});
const refused = (word) => statusRow(`${word}: nothing sent, the order not reported, -8`, { state: word },
  { codes: [-8], word, notes: [`printer not ready: ${word}`], queries: [...S, ...S] });
usbCases.push(
  statusRow('ready: printed and confirmed', { state: 'ready' }, { word: 'ready', queries: [...S, ...C, ...S] }),
  statusRow('paper low: printed, logged', { state: 'paper-low' },
    { word: 'paper-low', notes: ['printer paper low'], queries: [...S, ...C, ...S] }),
  refused('paper-out'), refused('cover-open'), refused('error'), refused('offline'),
  statusRow('silent: printed as before, asked once a minute', { answers: 'silent' },
    { receipts: 2, codes: [0, 0], word: 'no-answer', queries: ['100401'] }),
  statusRow('status without confirmation: printed, not asked to confirm again', { answers: 'no-confirm' },
    { receipts: 2, codes: [0, 0], word: 'ready', queries: [...S, ...C, ...S, '100402', '100404', ...S] }),
  statusRow('an answer that is no status byte: no answer', { answers: 'garbage' },
    { word: 'no-answer', queries: ['100401'] }),
  statusRow('paper out after 5 bytes: sent, not reported, -8', { state: 'ready', after: 5, then: 'paper-out' },
    { codes: [-8], sent: [0], word: 'paper-out', notes: ['printer stopped during the receipt: paper-out'], queries: [...S, ...C, ...S] }),
  statusRow('answers late: no answer, printed as before', { answers: 'late' },
    { word: 'no-answer', queries: ['100401'] }),
  // Answers that differ per query show a repeated one taken for the next answer.
  statusRow('answers twice: the second answer is dropped', { state: 'paper-low', answers: 'twice' },
    { word: 'paper-low', notes: ['printer paper low'], queries: [...S, ...C, ...S] }),
  statusRow('a flood of input: no answer, no hang, printed as before', { answers: 'flood' },
    { word: 'no-answer', queries: ['100401'] }),
  statusRow('the device vanishes after the status cycle: nothing sent, -5', { vanish: true },
    { codes: [-5], word: 'absent', queries: S }),
  {
    name: 'NoDriverGetStatus: "unknown" at once, the fresh word later; "absent" for a name not plugged in',
    pty: { state: 'ready' },
    body: `
      binding.NoDriverSetPrinters(args.name);
      const first = [binding.NoDriverGetStatus(''), binding.NoDriverGetStatus(args.name), binding.NoDriverGetStatus('VID_FFFF&PID_0001')];
      await helpers.eventually(() => binding.NoDriverGetStatus('') === 'ready' && binding.NoDriverGetStatus('VID_FFFF&PID_0001') === 'absent',
        'the fresh words');
      return { first };`,
    check: (result, bytes, asked) => {
      assert.deepEqual(result.first, ['unknown', 'unknown', 'unknown']);
      assert.equal(bytes.length, 0);
      assert.ok(asked.length >= 3, asked.join(' '));
      asked.forEach((query, i) => assert.equal(query, S[i % 3], asked.join(' ')));
    },
  },
);

describe('USB route fault matrix', () => {
  for (const c of usbCases) {
    test(c.name, async () => {
      const port = nextPort++;
      const place = [`3-${port}`, '1fc9', (0x2000 + port).toString(16), `lp${10 + port}`];
      const printer = c.pty ? await usb.ptyPrinter(...place, c.pty) : usb.printer(...place);
      c.setup?.(printer);
      const earlier = host.messages().length;
      const marker = path.join(host.root, `exit-${port}`);
      const run = await host.run(kPrelude + c.body, {
        env: { ...usb.env, ...c.env }, args: { name: printer.name, path: printer.path, big: kBig, marker, ...c.args },
      });
      printer.paused = false;
      printer.pace = 0;
      if (c.exits) {
        c.check(run, usb.bytes(printer), host.messages().slice(earlier), marker);
      } else if (c.pty) {
        assertClean(assert, run);
        const { bytes, queries } = await usb.received(printer);
        c.check(run.result, bytes, queries);
      } else {
        assertClean(assert, run);
        c.check(run.result, usb.bytes(printer));
      }
    });
  }
});

// Spooler cases: each host runs beside a scheduler of its own. `ask` keeps
// every answer of GetPrintedTasks; `waiting` those given while the order's
// jobs could not have completed, which must all be empty.
const kSpoolerPrelude = `${kPrelude}
  const waiting = [];
  const ask = (names) => collect(binding.GetPrintedTasks(names));
  const printed = (names, n) => helpers.eventually(() => { ask(names); return reported.length >= n; }, n + ' order(s) reported');
  const printedOn = (queue, n) => helpers.eventually(() => helpers.capturedJobs(queue).length >= n, n + ' job(s) on ' + queue);
  const jobIds = (queue) => (helpers.cups('lpstat', '-o', queue).match(new RegExp('^' + queue + '-\\\\d+', 'mg')) || []);
  const notPrintedLogged = (id) => lines().some((m) => m.indexOf('print task ' + id + ' not printed: job ') === 0);
  // The word once the print thread has read the spooler again: asked until it is no longer the word given.
  const statusAfter = (name, from) => helpers.eventually(() => {
    const word = binding.GetPrinterStatus(name);
    return word !== from && word;
  }, 'a status of "' + name + '" other than ' + from);
  binding.SetMonitorTime(3600);`;

const spoolerCases = [
  {
    name: 'printed: ids come back once, long and non-ASCII ones whole',
    env: { LANG: 'zh_CN.UTF-8' },
    body: `
      binding.setDriverName('Receipt');
      binding.print('<p_s><h1>A<p_e><p_s><h1>B<p_e><o_s>单号-甲1<o_e>');
      binding.print('<p_s><h1>C<p_e><o_s>' + 'R'.repeat(40) + '<o_e>');
      await printed('Receipt', 2);
      ask('Receipt');
      return { reported };`,
    reported: ['单号-甲1', 'R'.repeat(40)],
  },
  {
    name: 'queue stopped, then started',
    body: `
      binding.setDriverName('Held');
      binding.print('<p_s><h1>A<p_e><p_s><h1>B<p_e><o_s>H-1<o_e>');
      await helpers.eventually(() => count('driverPrintAsync ret:') === 1, 'the print');
      waiting.push(ask('Held'), ask('Held,Receipt'));
      helpers.cups('cupsenable', 'Held');
      await printed('Held', 1);
      ask('Held');
      return { reported, waiting };`,
    reported: ['H-1'],
  },
  {
    name: 'job held, then released',
    body: `
      binding.setDriverName('Held');
      binding.print('<p_s><h1>A<p_e><o_s>J-1<o_e>');
      await helpers.eventually(() => count('driverPrintAsync ret:') === 1, 'the print');
      const job = jobIds('Held')[0];
      helpers.cups('lp', '-i', job, '-H', 'hold');
      helpers.cups('cupsenable', 'Held');
      waiting.push(ask('Held'));
      await helpers.eventually(() => helpers.cups('lpstat', '-p', 'Held').indexOf('idle') >= 0, 'the queue idle');
      waiting.push(ask('Held'));
      helpers.cups('lp', '-i', job, '-H', 'resume');
      await printed('Held', 1);
      return { reported, waiting };`,
    reported: ['J-1'],
  },
  {
    name: 'one of a task\'s two jobs cancelled: not reported, logged',
    body: `
      binding.setDriverName('Held');
      binding.print('<p_s><h1>A<p_e><p_s><h1>B<p_e><o_s>C-1<o_e>');
      await helpers.eventually(() => count('driverPrintAsync ret:') === 1, 'the print');
      helpers.cups('cancel', jobIds('Held')[0]);
      helpers.cups('cupsenable', 'Held');
      await printedOn('Held', 1);
      await helpers.eventually(() => { waiting.push(ask('Held')); return notPrintedLogged('C-1'); }, 'the task dropped');
      waiting.push(ask('Held'));
      return { reported, waiting, logged: lines().filter((m) => m.indexOf('print task') === 0) };`,
    reported: [],
    check: (result) => assert.match(result.logged.join('\n'), /^print task C-1 not printed: job \d+ was cancelled or aborted$/),
  },
  {
    name: 'job aborted by a failing backend: not reported, logged',
    body: `
      helpers.cups('lpadmin', '-p', 'Failing', '-v', 'capture:/nonexistent/folder', '-E', '-o', 'printer-error-policy=abort-job');
      binding.setDriverName('Failing');
      binding.print('<p_s><h1>A<p_e><o_s>A-1<o_e>');
      await helpers.eventually(() => { waiting.push(ask('Failing')); return notPrintedLogged('A-1'); }, 'the task dropped');
      return { reported, waiting };`,
    reported: [],
  },
  {
    name: 'queue deleted while jobs wait: never reported',
    body: `
      binding.setDriverName('Held');
      binding.print('<p_s><h1>A<p_e><o_s>D-1<o_e>');
      await helpers.eventually(() => count('driverPrintAsync ret:') === 1, 'the print');
      helpers.cups('lpadmin', '-x', 'Held');
      for (let i = 0; i < 3; i++) waiting.push(ask('Held'), ask('Held,Receipt'));
      return { reported, waiting, dropped: notPrintedLogged('D-1') };`,
    reported: [],
    check: (result) => assert.equal(result.dropped, false, 'a queue that cannot be read judges nothing'),
  },
  {
    name: 'cupsd stopped while jobs wait, then back',
    body: `
      binding.setDriverName('Held');
      binding.print('<p_s><h1>A<p_e><o_s>K-1<o_e>');
      await helpers.eventually(() => count('driverPrintAsync ret:') === 1, 'the print');
      helpers.cups(args.withCupsd, '--stop');
      waiting.push(ask('Held'), ask('Held,Receipt'));
      helpers.cups(args.withCupsd, '--start');
      waiting.push(ask('Held'));
      helpers.cups('cupsenable', 'Held');
      await printed('Held', 1);
      return { reported, waiting };`,
    reported: ['K-1'],
  },
  {
    name: 'an unknown name in the list judges nothing',
    body: `
      binding.setDriverName('Receipt');
      binding.print('<p_s><h1>A<p_e><o_s>U-1<o_e>');
      await printedOn('Receipt', 1);
      waiting.push(ask('NoSuchPrinter'), ask(''), ask(',NoSuch,,Other'));
      await printed('NoSuchPrinter,Receipt', 1);
      return { reported, waiting };`,
    reported: ['U-1'],
  },
  {
    name: 'a list that omits the task\'s printer judges nothing',
    body: `
      binding.setDriverName('Receipt');
      binding.print('<p_s><h1>A<p_e><o_s>O-1<o_e>');
      await printedOn('Receipt', 1);
      waiting.push(ask('Held,Kitchen'));
      await printed('Receipt', 1);
      return { reported, waiting };`,
    reported: ['O-1'],
  },
  {
    name: 'two tasks with one order id: each reported when its own jobs printed',
    body: `
      binding.setDriverName('Held');
      binding.print('<p_s><h1>first<p_e><o_s>T-1<o_e>');
      // The printer is read when the print runs.
      await helpers.eventually(() => count('driverPrintAsync ret:') === 1, 'the first print');
      binding.setDriverName('Receipt');
      binding.print('<p_s><h1>second<p_e><o_s>T-1<o_e>');
      await printed('Receipt,Held', 1);
      waiting.push(ask('Receipt,Held'), ask('Held'));
      helpers.cups('cupsenable', 'Held');
      await printed('Held', 2);
      const titles = [helpers.capturedJobs('Held')[0].title, helpers.capturedJobs('Receipt')[0].title];
      return { reported, waiting, titles };`,
    reported: ['T-1', 'T-1'],
    check: (result) => assert.notEqual(result.titles[0], result.titles[1], 'the two tasks\' jobs are named apart'),
  },
  {
    name: 'a busy script thread: the receipts go to the spooler meanwhile',
    body: `
      binding.setDriverName('Receipt');
      for (let i = 0; i < 3; i++) binding.print('<p_s><h1>Y' + i + '<p_e><o_s>Y-' + i + '<o_e>');
      const since = Date.now();
      while (count('driverPrintAsync ret:') < 3 && Date.now() - since < 60000) { /* busy */ }
      const handedOn = count('driverPrintAsync ret:');
      await printed('Receipt', 3);
      return { reported, handedOn };`,
    reported: ['Y-0', 'Y-1', 'Y-2'],
    check: (result) => assert.equal(result.handedOn, 3),
  },
  {
    name: 'GetPrinterStatus of an idle queue: "unknown" until read, then "ready"',
    body: `
      const words = [binding.GetPrinterStatus('Receipt'), await statusAfter('Receipt', 'unknown')];
      return { reported, words };`,
    reported: [],
    check: (result) => assert.deepEqual(result.words, ['unknown', 'ready']),
  },
  {
    name: 'GetPrinterStatus of a stopped queue: "offline" while its receipt waits, "ready" once started',
    body: `
      binding.setDriverName('Held');
      binding.print('<p_s><h1>A<p_e><o_s>S-2<o_e>');
      // Read after the receipt already queued.
      binding.GetPrinterStatus('Held');
      const stopped = await statusAfter('Held', 'unknown');
      waiting.push(ask('Held'));
      helpers.cups('cupsenable', 'Held');
      const started = await statusAfter('Held', 'offline');
      await printed('Held', 1);
      return { reported, waiting, words: [stopped, started], printedFirst: count('driverPrintAsync ret:') };`,
    reported: ['S-2'],
    check: (result) => {
      assert.deepEqual(result.words, ['offline', 'ready']);
      assert.equal(result.printedFirst, 1);
    },
  },
  {
    name: 'GetPrinterStatus of an unknown name: "absent"',
    body: `
      const words = [binding.GetPrinterStatus('NoSuchPrinter'), await statusAfter('NoSuchPrinter', 'unknown'),
        await statusAfter('', 'unknown')];
      return { reported, words };`,
    reported: [],
    check: (result) => assert.deepEqual(result.words, ['unknown', 'absent', 'absent']),
  },
  {
    name: 'a backend that reported media-empty: "paper-out", and its receipt is not reported',
    env: { ORVANE_TEST_CUPS_BACKENDS: kNoPaperBackend },
    body: `
      helpers.cups('lpadmin', '-p', 'NoPaper', '-v', 'nopaper:/', '-E');
      binding.setDriverName('NoPaper');
      binding.print('<p_s><h1>A<p_e><o_s>P-1<o_e>');
      await helpers.eventually(() => helpers.cups('lpstat', '-p', 'NoPaper').indexOf('disabled') >= 0, 'the backend to stop the queue');
      const word = await helpers.eventually(() => {
        const seen = binding.GetPrinterStatus('NoPaper');
        return seen !== 'unknown' && seen !== 'ready' && seen;
      }, 'the state the backend left');
      waiting.push(ask('NoPaper'));
      return { reported, waiting, word, logged: lines().indexOf('spooler printer NoPaper: paper-out') >= 0 };`,
    reported: [],
    check: (result) => {
      assert.equal(result.word, 'paper-out');
      assert.equal(result.logged, true, 'the change of word is logged');
    },
  },
  {
    name: 'process.exit() with 3 spooler receipts queued: all of them reach the spooler',
    body: `
      binding.setDriverName('Receipt');
      for (let i = 0; i < 3; i++) binding.print('<p_s><h1>X' + i + '<p_e><o_s>X-' + i + '<o_e>');
      process.exit(0);`,
    // The scheduler goes when the host does: the wrapper waits for the jobs
    // and leaves their titles behind.
    wrapper: (titles) => ['bash', '-c', `status=0; "$@" || status=$?
      for _ in $(seq 1 600); do [ "$(ls "$ORVANE_TEST_CUPS_DIR/out/Receipt" | grep -c '^[0-9]*$')" -ge 3 ] && break; sleep 0.1; done
      cat "$ORVANE_TEST_CUPS_DIR"/out/Receipt/*.title > "${titles}"; exit $status`, 'bash'],
    exits: true,
  },
];

describe('spooler route fault matrix', () => {
  for (const c of spoolerCases) {
    test(c.name, async () => {
      const titles = path.join(host.root, `titles-${process.hrtime.bigint()}`);
      const earlier = host.messages().length;
      const run = await host.run(kSpoolerPrelude + c.body, {
        wrapper: [withCupsd, ...(c.wrapper ? c.wrapper(titles) : [])], env: c.env ?? {}, args: { withCupsd },
      });
      if (c.exits) {
        assert.equal(run.status, 0, run.stderr);
        const { readFileSync } = await import('node:fs');
        assert.equal(readFileSync(titles, 'utf8'), 'tamq_X-0tamq_X-1tamq_X-2');
        assert.equal(host.messages().slice(earlier).filter((m) => m.startsWith('driverPrintAsync ret:')).length, 3);
        return;
      }
      assertClean(assert, run);
      assert.deepEqual(run.result.reported, c.reported);
      assert.deepEqual(run.result.waiting ?? [], (run.result.waiting ?? []).map(() => ''),
        'nothing reported while the jobs could not have printed');
      c.check?.(run.result);
    });
  }
});
