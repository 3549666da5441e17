// The comparison encoder, run as a black box on the receipt binding_core_bench
// encodes: 5 paragraphs, each initialised, a centred double-size title, 40
// item lines with every third emphasised, a CODE128 barcode after every fifth
// line (alternately 13 and 18 digits), each paragraph encoded on its own.
//   node anchor_encoder.mjs MODULE_FOLDER RECEIPTS
// prints {"receiptsPerSecond": ..., "bytesPerReceipt": ...}
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const [folder, count] = process.argv.slice(2);
const entry = path.join(folder, 'node_modules', '@point-of-sale', 'receipt-printer-encoder', 'dist',
  'receipt-printer-encoder.mjs');
const { default: ReceiptPrinterEncoder } = await import(pathToFileURL(entry).href);

// One encoder for every receipt, so its set-up is not counted.
const encoder = new ReceiptPrinterEncoder({ language: 'esc-pos' });

function encodeReceipt() {
  let bytes = 0;
  let barcodes = 0;
  for (let p = 0; p < 5; p++) {
    encoder.initialize().align('center').width(2).height(2).line(`Table ${p}`).width(1).height(1).align('left');
    for (let line = 0; line < 40; line++) {
      encoder.bold(line % 3 === 0).line(`Item ${line}  x2    12.50`);
      if (line % 5 === 4) {
        encoder.barcode(++barcodes % 2 === 0 ? '6901234567892' : '123456789012345678', 'code128', 60);
      }
    }
    bytes += encoder.encode().length;
  }
  return bytes;
}

const receipts = Number(count);
encodeReceipt();  // the first call compiles
const start = process.hrtime.bigint();
let bytes = 0;
for (let i = 0; i < receipts; i++) bytes += encodeReceipt();
const seconds = Number(process.hrtime.bigint() - start) / 1e9;
console.log(JSON.stringify({ receiptsPerSecond: receipts / seconds, bytesPerReceipt: bytes / receipts }));
