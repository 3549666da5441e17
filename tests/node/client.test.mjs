// The stand-in client Orvane as installed: a single executable beside the
// add-on. It keeps the files the shell relies on and prints through the add-on.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { Host, eventually, installFolder, placeFile, withCupsd } from './support/host.mjs';
import { FakeUsb } from './support/usb.mjs';

let host;
before(() => {
  host = new Host('client', { executable: path.join(installFolder, 'Orvane'), as: 'Orvane' });
  placeFile(path.join(installFolder, 'binding.node'), path.join(host.folder, 'binding.node'));
});
after(() => host.remove());

const appData = () => path.join(host.home, '.local/share');
const work = () => path.join(host.root, 'work');

// Starts the client; `exited` resolves with its status, signal and output.
function startClient(args, { env = {}, wrapper = [] } = {}) {
  const command = [...wrapper, host.executable, ...args];
  const child = spawn(command[0], command.slice(1), { cwd: work(), env: host.env(env), stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  child.stdout.on('data', (data) => { output += data; });
  child.stderr.on('data', (data) => { output += data; });
  const exited = new Promise((resolve) => child.on('close', (status, signal) => resolve({ status, signal, output })));
  return { child, exited };
}

function marksOf(slot, pid) {
  return { lockfile: path.join(slot, 'lockfile'), record: path.join(appData(), 'KestoOrvane', 'lockfiles', String(pid)) };
}

describe('files the shell relies on', () => {
  test('while it runs it keeps its lockfile, lock record and package.nw/lockfiles; a normal end removes its marks', async () => {
    const slot = path.join(appData(), 'KestoOrvane', 'UserData_0');
    const { child, exited } = startClient([`--user-data-dir=${slot}`, '--run-seconds=2']);
    const marks = marksOf(slot, child.pid);
    await eventually(() => fs.existsSync(marks.record), 'the lock record');
    assert.equal(fs.readFileSync(marks.lockfile, 'utf8'), String(child.pid));
    assert.equal(fs.readFileSync(marks.record, 'utf8'), marks.lockfile);
    assert.ok(fs.statSync(path.join(work(), 'package.nw', 'lockfiles')).isDirectory());
    assert.equal(path.basename(fs.readlinkSync(`/proc/${child.pid}/exe`)), 'Orvane');
    const end = await exited;
    assert.deepEqual([end.status, end.signal], [0, null], end.output);
    assert.deepEqual([fs.existsSync(marks.lockfile), fs.existsSync(marks.record)], [false, false]);
    assert.ok(fs.existsSync(path.join(work(), 'package.nw', 'lockfiles')), 'left for the updater');
  });

  test('SIGTERM ends it normally; a killed instance leaves its marks for the updater', async () => {
    for (const signal of ['SIGTERM', 'SIGKILL']) {
      const slot = path.join(appData(), 'KestoOrvane', `UserData_${signal}`);
      const { child, exited } = startClient([`--user-data-dir=${slot}`]);
      const marks = marksOf(slot, child.pid);
      await eventually(() => fs.existsSync(marks.record), 'the lock record');
      child.kill(signal);
      const end = await exited;
      const left = fs.existsSync(marks.lockfile) && fs.existsSync(marks.record);
      if (signal === 'SIGTERM') assert.deepEqual([end.status, left], [0, false], end.output);
      else assert.deepEqual([end.signal, left], ['SIGKILL', true]);
    }
  });

  test('--crash-dump writes a dump where the crash reporter keeps them', async () => {
    const { exited } = startClient(['--crash-dump', '--run-seconds=0']);
    assert.equal((await exited).status, 0);
    const dumps = fs.readdirSync(path.join(appData(), 'Crashpad', 'reports'));
    assert.equal(dumps.length, 1);
    assert.match(dumps[0], /^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.dmp$/);
  });
});

describe('the hosted add-on', () => {
  test('a sample receipt goes through the add-on to the first USB printer, which is then saved', async () => {
    const usb = new FakeUsb(path.join(host.root, 'usb'));
    try {
      const printer = usb.printer('1-1', '0416', '5011', 'lp0');
      const { exited } = startClient(['--run-seconds=0'], { env: { ...usb.env, ORVANE_PRINT_SAMPLE: '1' } });
      const end = await exited;
      assert.equal(end.status, 0, end.output);
      const orderId = end.output.match(/sample receipt (S\d+) printed/)?.[1];
      assert.ok(orderId, end.output);
      const bytes = usb.bytes(printer);
      assert.equal(bytes.subarray(0, 2).toString('hex'), '1b40');
      assert.ok(bytes.includes('Orvane Shell') && bytes.subarray(-3).toString('hex') === '0a0a0a');
      assert.match(fs.readFileSync(host.configFile, 'utf8'), /type=VID_0416&PID_5011/);
      assert.ok(host.messages().includes('printAsync ret: 0'));
    } finally {
      usb.close();
      fs.rmSync(host.configFile, { force: true });
    }
  });

  test('on the saved spooler printer it prints by the driver route and sees the order printed', async () => {
    fs.writeFileSync(host.configFile, '[printer]\ntype=Receipt\n');
    const { exited } = startClient(['--run-seconds=0'], { env: { ORVANE_PRINT_SAMPLE: '1' }, wrapper: [withCupsd] });
    const end = await exited;
    assert.equal(end.status, 0, end.output);
    assert.match(end.output, /on Receipt \(spooler\)/);
    assert.match(end.output, /sample receipt S\d+ printed/);
    assert.ok(host.messages().some((m) => /^driverPrintAsync ret: [01]$/.test(m)));
  });
});
