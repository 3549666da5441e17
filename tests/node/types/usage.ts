// A client script's use of the add-on, type-checked against binding/index.d.ts.
// Each @ts-expect-error marks a misuse the declarations must reject; one they
// let through fails the check as an unused directive.
import binding = require('../../../binding');

export function printOnFirstUsbPrinter(receipt: string, orderId: string): string {
  const usb = binding.NoDriverGetPrinters();
  if (usb.length === 0) return '';
  const port: 'USB' = usb[0].port;
  binding.NoDriverSetPrinters(usb[0].type);
  const status: binding.PrinterStatusWord = binding.NoDriverGetStatus('');
  if (status === 'paper-out' || status === 'cover-open') return status;
  const queued: 0 = binding.NoDriverPrint(`${receipt}<o_s>${orderId}<o_e>`);
  return port + queued + binding.NoDriverGetPrinted(0);
}

export function chooseSpoolerPrinter(): number {
  const all = binding.GetAllLocalPrintDrivers();
  const spooler = all.filter((p) => p.nodriver === 'false');
  const name = binding.getSelectPrinter() || (spooler.length > 0 ? spooler[0].type : binding.getDriverName());
  binding.setDriverName(name);
  binding.setDriverWidth(80);
  binding.SetMonitorTime(60);
  const saved: 0 | 1 = binding.savePrinter(name);
  return saved + binding.print('<p_s><c1>Table 5<h1>\nTea x2\n<p_e>') + binding.getDriverWidth();
}

export function printedOnSpooler(): string[] {
  return binding.GetPrintedTasks(binding.getLocalPrintDriver().map((p) => p.type).join(',')).split(',');
}

export function spoolerPrinterCanPrint(printerName: string): boolean {
  const word: binding.PrinterStatusWord = binding.GetPrinterStatus(printerName);
  return word === 'ready' || word === 'paper-low';
}

export function misuses(): void {
  // @ts-expect-error the paper width is a number
  const width: string = binding.getDriverWidth();
  // @ts-expect-error NoDriverGetPrinted needs its (unused) argument
  binding.NoDriverGetPrinted();
  // @ts-expect-error a spooler printer's port is any text, not "USB"
  const port: 'USB' = binding.getLocalPrintDriver()[0].port;
  // @ts-expect-error "nodriver" is text, not a boolean
  const usbOnly = binding.GetAllLocalPrintDrivers().filter((p) => p.nodriver === true);
  // @ts-expect-error a status word is one of the listed words
  const word: 'jammed' = binding.NoDriverGetStatus('');
  // @ts-expect-error NoDriverGetStatus needs the device name ("" for the chosen one)
  binding.NoDriverGetStatus();
  // @ts-expect-error there is no such function
  binding.printReceipt('<p_s><h1>x<p_e>');
  // @ts-expect-error a status is one of its words, not any text
  const jammed = binding.GetPrinterStatus('Receipt') === 'jammed';
  // @ts-expect-error GetPrinterStatus needs the printer's name
  binding.GetPrinterStatus();
  void [width, port, usbOnly, word, jammed];
}
