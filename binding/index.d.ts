// Types of the print add-on `binding.node` for the client's script code.
// Copy this file beside binding.node as binding.node.d.ts, then:
//   import binding = require('./binding.node');
// Every function reads only its first argument; the engine converts it
// (to text, or to a 32-bit integer), so the types below are what the
// functions mean, not all they accept. docs/script-api.md tells more.

/** A spooler printer: its name and port. */
export interface SpoolerPrinter {
  type: string;
  port: string;
}

/** A driverless USB receipt printer: its device name ("VID_0416&PID_5011"). */
export interface UsbPrinter {
  type: string;
  port: 'USB';
}

/** An entry of GetAllLocalPrintDrivers: "nodriver" is text, "true" for USB printers. */
export type AnyPrinter = (UsbPrinter & { nodriver: 'true' }) | (SpoolerPrinter & { nodriver: 'false' });

/**
 * What a printer says of itself. Blocking a receipt: "cover-open", "paper-out", "error", "offline"
 * (a USB receipt then ends with -8). Printing: "ready", "paper-low". Not known: "unknown" (not read yet), "absent" (no such printer),
 * "no-answer" (the printer is there but told nothing). docs/script-api.md says what the merchant can do.
 */
export type PrinterStatusWord =
  | 'unknown' | 'absent' | 'no-answer' | 'ready' | 'paper-low' | 'offline' | 'error' | 'paper-out' | 'cover-open';

/** Queues a receipt in mark-up for the chosen spooler printer; always 0, the outcome goes to the log. */
export function print(receipt: string): 0;
/** Makes `printerName` the spooler printer and prints a test page on it: 1 when the job was queued, else 0. */
export function printTestMsg(printerName: string): 0 | 1;
/** Chooses the spooler printer that `print` uses; 0. */
export function setDriverName(printerName: string): 0;
/** Stores the paper width in millimetres (the encoding does not use it); 0. */
export function setDriverWidth(width: number): 0;
/** The chosen spooler printer, "XP-58" until one is chosen. */
export function getDriverName(): string;
/** The stored paper width, 58 until set. */
export function getDriverWidth(): number;
/** The spooler printers (fax and document writers left out). */
export function getLocalPrintDriver(): SpoolerPrinter[];
/** The USB printers, then the spooler printers. */
export function GetAllLocalPrintDrivers(): AnyPrinter[];
/** The printer name saved in config.ini beside the client; "" when none was saved. */
export function getSelectPrinter(): string;
/** Saves a printer name in config.ini: 0 when written, 1 when not. */
export function savePrinter(printerName: string): 0 | 1;
/** Opens the printer's queue window: 0 on success, 1 on failure. */
export function openPrintTask(printerName: string): 0 | 1;
/** Opens the printer's properties dialog: 0 on success, 1 on failure. */
export function openPrintPro(printerName: string): 0 | 1;
/** Asks the desktop to open a file, folder or URL; always 1, the outcome is not known. */
export function QuerySysCommand(target: string): 1;
/** Opens a Control Panel item by its canonical name ("Microsoft.DevicesAndPrinters"); always 1. */
export function QuerySysCommand2(canonicalName: string): 1;
/** The USB receipt printers plugged in now. */
export function NoDriverGetPrinters(): UsbPrinter[];
/** Chooses the USB printer, by its device name, that `NoDriverPrint` uses; 0. */
export function NoDriverSetPrinters(deviceName: string): 0;
/** Queues a receipt in mark-up for the chosen USB printer; always 0, see `NoDriverGetPrinted`. */
export function NoDriverPrint(receipt: string): 0;
/** The order ids of USB receipts printed since the last call, joined by ","; each id comes back once. The argument is required but unused. */
export function NoDriverGetPrinted(unused: unknown): string;
/** Stores a check interval in seconds (nothing reads it); 0. */
export function SetPrinterCheckTime(seconds: number): 0;
/** How many seconds an order whose spooler jobs all still wait stays tracked; 0. */
export function SetMonitorTime(seconds: number): 0;
/** The order ids of spooler receipts found printed on the printers named in a ","-separated list, joined by ",". */
export function GetPrintedTasks(printerNames: string): string;
/**
 * The status word last known for a USB printer ("" for the one chosen with `NoDriverSetPrinters`),
 * "unknown" before any answer; returns at once and asks the printer afresh after the receipts queued.
 */
export function NoDriverGetStatus(deviceName: string): PrinterStatusWord;
/** The word last read for a spooler printer, at once ("unknown" before the first read); a fresh read follows on the print thread, so ask again for it. */
export function GetPrinterStatus(printerName: string): PrinterStatusWord;
