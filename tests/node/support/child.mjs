// Helpers for scripts running inside a host process (see host.mjs).
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

// The messages of a log text, without time stamp and category. A message's
// own line feeds were written as CR LF; a line begins only with a stamp.
export function splitLog(text) {
  if (text === '') return [];
  return text.replace(/\r\n$/, '')
    .split(/\r\n(?=\[[ \d]{2}-[ \d]{2} [ \d]{2}:[ \d]{2}:[ \d]{2}_[ \d]{3}\]\[default\])/)
    .map((line) => line.replace(/^\[[^\]]*\]\[default\]/, '').replace(/\r\n/g, '\n'));
}

export const logFile = path.join(path.dirname(process.execPath), 'log', 'kesto.log');

export function logMessages() {
  if (!fs.existsSync(logFile)) return [];
  return splitLog(fs.readFileSync(logFile, 'latin1'));
}

// Waits for something another process or thread does; the deadline only
// ends a test that would otherwise hang.
export async function eventually(condition, what, seconds = 60) {
  const deadline = Date.now() + seconds * 1000;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

// Lines logged before this process started.
const earlierLines = logMessages().length;

// Waits until this process has logged `count` lines that start with `prefix`.
export function logged(prefix, count = 1) {
  return eventually(() => logMessages().slice(earlierLines).filter((m) => m.startsWith(prefix)).length >= count,
    `${count} log line(s) "${prefix}"`);
}

// The captured jobs of a queue of with-cupsd's scheduler, in job order:
// { title, hex }.
export function capturedJobs(queue) {
  const folder = path.join(process.env.ORVANE_TEST_CUPS_DIR, 'out', queue);
  return fs.readdirSync(folder).filter((f) => /^\d+$/.test(f)).sort((a, b) => a - b).map((id) => ({
    title: fs.readFileSync(path.join(folder, `${id}.title`), 'latin1'),
    hex: fs.readFileSync(path.join(folder, id)).toString('hex'),
  }));
}

export function cups(command, ...args) {
  return execFileSync(command, args, { encoding: 'utf8' });
}
