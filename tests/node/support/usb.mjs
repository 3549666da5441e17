// Fake USB receipt printers: a sysfs tree as the Linux backend reads it and
// a FIFO per printer node, drained by this process so that every byte the
// add-on writes is kept, in order, across its open-write-close cycles.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

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

  // A printer-class interface bound to usblp with node lpN; gives the
  // printer's name as the add-on lists it and a reader of its bytes.
  printer(port, vendor, product, node) {
    this.device(port, vendor, product, 'Receipt Printer');
    const iface = path.join(this.devices, `${port}:1.0`);
    fs.mkdirSync(path.join(iface, 'usbmisc', node), { recursive: true });
    fs.writeFileSync(path.join(iface, 'bInterfaceClass'), '07\n');
    fs.symlinkSync(path.join(this.drivers, 'usblp'), path.join(iface, 'driver'));
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

  close() {
    clearInterval(this.timer);
    for (const printer of this.printers) fs.closeSync(printer.fd);
    this.printers = [];
  }
}
