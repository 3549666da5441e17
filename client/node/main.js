'use strict';
// Stand-in for the client application on Linux, built into the executable
// Orvane (a Node.js single-executable application). Like the real client it
// hosts the print add-on binding.node, found beside the executable, and keeps
// the files the shell relies on:
//   --user-data-dir="<folder>"  the slot folder chosen by the launcher: its
//                                lockfile, and the lock record in
//                                KestoOrvane/lockfiles/<pid>
//   --crash-dump                 write a crash dump where the crash reporter would
//   --run-seconds=N              end normally after N seconds (default: run until ended)
// package.nw/lockfiles is kept under the working folder. SIGINT and SIGTERM
// end it normally; a killed instance leaves its marks for the updater.
//
// With ORVANE_PRINT_SAMPLE set it prints one sample receipt through the
// add-on at start: on the saved printer, else on the first one listed (which
// it then saves), by the route the listing gives it.
const fs = require('node:fs');
const path = require('node:path');
const crypto = require('node:crypto');
const { createRequire } = require('node:module');

// A lock record holds one path of at most this many bytes.
const kRecordLimit = 520;

function parseArguments(argv) {
  const options = { slot: '', crashDump: false, runSeconds: -1 };
  for (const arg of argv) {
    if (arg.startsWith('--user-data-dir=')) options.slot = arg.slice('--user-data-dir='.length);
    else if (arg === '--crash-dump') options.crashDump = true;
    else if (arg.startsWith('--run-seconds=')) {
      const seconds = parseInt(arg.slice('--run-seconds='.length), 10);
      options.runSeconds = Number.isNaN(seconds) ? 0 : seconds;
    }
  }
  return options;
}

// The local application-data folder, when it exists.
function localAppData() {
  const home = process.env.HOME || '';
  const folder = process.env.XDG_DATA_HOME || (home && path.join(home, '.local', 'share'));
  return folder && fs.existsSync(folder) ? folder : null;
}

// Written beside and renamed into place, so a reader sees the whole content
// or no file; a record left by an ended process with the same id is replaced.
function writeWholeFile(file, bytes) {
  const partial = path.join(path.dirname(file), `.${path.basename(file)}.partial`);
  try {
    fs.writeFileSync(partial, bytes);
    fs.renameSync(partial, file);
    return true;
  } catch {
    fs.rmSync(partial, { force: true });
    return false;
  }
}

function keepMarks(options) {
  const marks = [];
  const appData = localAppData();
  if (options.slot) {
    fs.mkdirSync(options.slot, { recursive: true });
    const lockfile = path.join(options.slot, 'lockfile');
    if (writeWholeFile(lockfile, String(process.pid))) marks.push(lockfile);
    if (appData) {
      const records = path.join(appData, 'KestoOrvane', 'lockfiles');
      fs.mkdirSync(records, { recursive: true });
      const record = path.join(records, String(process.pid));
      if (writeWholeFile(record, Buffer.from(lockfile).subarray(0, kRecordLimit))) marks.push(record);
    }
  }
  fs.mkdirSync(path.join(process.cwd(), 'package.nw', 'lockfiles'), { recursive: true });
  if (options.crashDump && appData) {
    const reports = path.join(appData, 'Crashpad', 'reports');
    fs.mkdirSync(reports, { recursive: true });
    writeWholeFile(path.join(reports, `${crypto.randomUUID().toUpperCase()}.dmp`), 'MDMP');
  }
  return marks;
}

function loadAddon() {
  try {
    return createRequire(process.execPath)('./binding.node');
  } catch (error) {
    console.error(`Orvane: the print add-on did not load: ${error.message}`);
    return null;
  }
}

function sampleReceipt(orderId) {
  return '<p_s><c1>Orvane Shell\n<h1>\nTable 5        ' + new Date().toISOString().slice(0, 16) + '\n' +
    'Tea x2                 8.00\nNoodles x1            12.50\n<h2>Total                 20.50\n' +
    '<c0>Thank you\n<bc>' + orderId.replace(/\D/g, '').slice(-12) + '<p_e>' +
    `<o_s>${orderId}<o_e>`;
}

// Asks every 100 ms, for at most 30 s, whether the order has printed.
function whenPrinted(ask, orderId, report) {
  const deadline = Date.now() + 30000;
  let seen = '';
  const timer = setInterval(() => {
    seen += ask();
    if (seen.split(',').includes(orderId)) report(true);
    else if (Date.now() < deadline) return;
    else report(false);
    clearInterval(timer);
  }, 100);
}

function printSample(binding) {
  const saved = binding.getSelectPrinter();
  const printers = binding.GetAllLocalPrintDrivers();
  const printer = printers.find((entry) => entry.type === saved) || printers[0];
  if (!printer) {
    console.log('Orvane: no printer for the sample receipt');
    return;
  }
  if (printer.type !== saved) binding.savePrinter(printer.type);
  const orderId = `S${Date.now()}`;
  const usb = printer.nodriver === 'true';
  console.log(`Orvane: printing sample receipt ${orderId} on ${printer.type} (${usb ? 'USB' : 'spooler'})`);
  const report = (printed) =>
    console.log(`Orvane: sample receipt ${orderId} ${printed ? 'printed' : 'not confirmed within 30 s'}`);
  if (usb) {
    binding.NoDriverSetPrinters(printer.type);
    binding.NoDriverPrint(sampleReceipt(orderId));
    whenPrinted(() => binding.NoDriverGetPrinted(0), orderId, report);
  } else {
    binding.SetMonitorTime(60);
    binding.setDriverName(printer.type);
    binding.print(sampleReceipt(orderId));
    whenPrinted(() => binding.GetPrintedTasks(printer.type), orderId, report);
  }
}

function main() {
  const options = parseArguments(process.argv.slice(2));

  // A normal end takes the instance's own marks away. The handlers come
  // first, so an end asked for as soon as the marks exist still removes them.
  const marks = [];
  let ended = false;
  const keepAlive = setInterval(() => {}, 3600 * 1000);
  const end = () => {
    if (ended) return;
    ended = true;
    clearInterval(keepAlive);
    for (const mark of marks) fs.rmSync(mark, { force: true });
  };
  process.on('exit', end);
  for (const signal of ['SIGINT', 'SIGTERM']) {
    process.on(signal, () => {
      end();
      process.exit(0);
    });
  }

  marks.push(...keepMarks(options));
  // Queued prints keep the runtime alive after the end until they are done.
  if (options.runSeconds >= 0) setTimeout(end, options.runSeconds * 1000);

  const binding = loadAddon();
  if (binding && process.env.ORVANE_PRINT_SAMPLE) printSample(binding);
}

main();
