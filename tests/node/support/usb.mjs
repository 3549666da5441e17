// Fake USB receipt printers: a sysfs tree as the Linux backend reads it and
// a node per printer. A one-way printer's node is a FIFO, drained by this
// process so that every byte the add-on writes is kept, in order, across its
// open-write-close cycles. A two-way printer's node is a pseudo-terminal
// kept by tests/doubles/pty_printer.py, which answers status queries from
// the state the test gives it.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const kPtyPrinter = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../doubles/pty_printer.py');

const exists = (file) => fs.existsSync(file);
const until = async (condition, what) => {
  const deadline = Date.now() + 30000;
  while (!condition()) {
    if (Date.now() > deadline) throw new Error(`the pty printer: timed out waiting for ${what}`);
    await new Promise((resolve) => { setTimeout(resolve, 5); });
  }
};

export class FakeUsb {
  constructor(root) {
    this.root = root;
    this.devices = path.join(root, 'sys/bus/usb/devices');
    this.nodes = path.join(root, 'dev/usb');
    this.drivers = path.join(root, 'sys/bus/usb/drivers');
    for (const dir of [this.devices, this.nodes, path.join(this.drivers, 'usblp'), path.join(this.drivers, 'usbhid')]) {
      fs.mkdirSync(dir, { recursive: true });
    }
    this.printers = [];
    this.ptys = [];
    this.timer = null;
  }

  get env() {
    return { ORVANE_SYSFS_ROOT: path.join(this.root, 'sys'), ORVANE_DEV_ROOT: path.join(this.root, 'dev') };
  }

  device(port, vendor, product, productName) {
    const dir = path.join(this.devices, port);
    fs.mkdirSync(dir, { recursive: true });
    fs.writeFileSync(path.join(dir, 'idVendor'), `${vendor}\n`);
    fs.writeFileSync(path.join(dir, 'idProduct'), `${product}\n`);
    fs.writeFileSync(path.join(dir, 'product'), `${productName}\n`);
  }

  // A printer-class interface bound to usblp with node lpN.
  printerDevice(port, vendor, product, node) {
    this.device(port, vendor, product, 'Receipt Printer');
    const iface = path.join(this.devices, `${port}:1.0`);
    fs.mkdirSync(path.join(iface, 'usbmisc', node), { recursive: true });
    fs.writeFileSync(path.join(iface, 'bInterfaceClass'), '07\n');
    fs.symlinkSync(path.join(this.drivers, 'usblp'), path.join(iface, 'driver'));
    return { name: `VID_${vendor.toUpperCase()}&PID_${product.toUpperCase()}`, path: path.join(this.nodes, node) };
  }

  // A one-way printer: gives the printer's name as the add-on lists it and a
  // reader of its bytes.
  printer(port, vendor, product, node) {
    this.printerDevice(port, vendor, product, node);
    const fifo = path.join(this.nodes, node);
    execFileSync('mkfifo', [fifo]);
    // Open for reading and writing, so it never reports an end between cycles.
    const fd = fs.openSync(fifo, fs.constants.O_RDWR | fs.constants.O_NONBLOCK);
    // `paused`: the printer takes nothing more; `pace`: at most this many
    // bytes per read, so that writes larger than what the FIFO holds are
    // taken in parts.
    const printer = {
      name: `VID_${vendor.toUpperCase()}&PID_${product.toUpperCase()}`, path: fifo, fd, chunks: [], paused: false, pace: 0,
    };
    this.printers.push(printer);
    if (!this.timer) this.timer = setInterval(() => this.drain(), 5);
    return printer;
  }

  // Reads whatever is waiting in the FIFOs.
  drain() {
    const buffer = Buffer.alloc(1 << 16);
    for (const printer of this.printers) {
      if (printer.paused) continue;
      for (;;) {
        let got = 0;
        try {
          got = fs.readSync(printer.fd, buffer, 0, printer.pace || buffer.length, null);
        } catch (error) {
          if (error.code === 'EAGAIN') break;
          throw error;
        }
        if (got === 0) break;
        printer.chunks.push(Buffer.from(buffer.subarray(0, got)));
        if (printer.pace) break;
      }
    }
  }

  // All bytes the printer received so far.
  bytes(printer) {
    this.drain();
    return Buffer.concat(printer.chunks);
  }

  // A two-way printer on a pseudo-terminal; `options` are pty_printer.py's
  // (state, after, then, answers, vanish, slaveMode).
  async ptyPrinter(port, vendor, product, node, options = {}) {
    const printer = this.printerDevice(port, vendor, product, node);
    printer.folder = path.join(this.root, `pty-${node}`);
    fs.mkdirSync(printer.folder);
    const args = [kPtyPrinter, printer.path, printer.folder];
    for (const [key, value] of Object.entries(options)) {
      const flag = `--${key.replace(/[A-Z]/g, (c) => `-${c.toLowerCase()}`)}`;
      args.push(...(value === true ? [flag] : [flag, String(value)]));
    }
    printer.child = spawn('python3', args, { stdio: ['ignore', 'inherit', 'inherit'] });
    printer.ended = new Promise((resolve) => { printer.child.on('exit', resolve); });
    this.ptys.push(printer);
    await until(() => exists(path.join(printer.folder, 'ready')), 'its start');
    return printer;
  }

  // What a two-way printer has received so far: the receipt bytes, and the
  // queries as hex, in order.
  async received(printer) {
    const sync = path.join(printer.folder, 'sync');
    fs.writeFileSync(sync, '');
    await until(() => !exists(sync), 'what it received');
    const queries = fs.readFileSync(path.join(printer.folder, 'queries'), 'utf8').split('\n').filter(Boolean);
    return { bytes: fs.readFileSync(path.join(printer.folder, 'received')), queries };
  }

  async close() {
    clearInterval(this.timer);
    for (const printer of this.printers) fs.closeSync(printer.fd);
    this.printers = [];
    for (const printer of this.ptys) fs.writeFileSync(path.join(printer.folder, 'stop'), '');
    await Promise.all(this.ptys.map((printer) => printer.ended));
    this.ptys = [];
  }
}
