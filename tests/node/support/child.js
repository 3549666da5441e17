// Helpers for scripts running inside a host process (see host.mjs). Plain
// CommonJS in the syntax of Node.js 5, the oldest runtime that hosts them.
'use strict';
const execFileSync = require('child_process').execFileSync;
const fs = require('fs');
const path = require('path');

// The messages of a log text, without time stamp and category. A message's
// own line feeds were written as CR LF; a line begins only with a stamp.
function splitLog(text) {
  if (text === '') return [];
  return text.replace(/\r\n$/, '')
    .split(/\r\n(?=\[[ \d]{2}-[ \d]{2} [ \d]{2}:[ \d]{2}:[ \d]{2}_[ \d]{3}\]\[default\])/)
    .map((line) => line.replace(/^\[[^\]]*\]\[default\]/, '').replace(/\r\n/g, '\n'));
}

const logFile = path.join(path.dirname(process.execPath), 'log', 'kesto.log');

function logMessages() {
  if (!fs.existsSync(logFile)) return [];
  return splitLog(fs.readFileSync(logFile, 'binary'));
}

// Waits for something another process or thread does; the deadline only
// ends a test that would otherwise hang.
function eventually(condition, what, seconds) {
  const deadline = Date.now() + (seconds === undefined ? 60 : seconds) * 1000;
  return new Promise((resolve, reject) => {
    const poll = () => Promise.resolve().then(condition).then((value) => {
      if (value) resolve(value);
      else if (Date.now() > deadline) reject(new Error(`timed out waiting for ${what}`));
      else setTimeout(poll, 20);
    }).catch(reject);
    poll();
  });
}

// Lines logged before this process started.
const earlierLines = logMessages().length;

// Waits until this process has logged `count` lines that start with `prefix`.
function logged(prefix, count) {
  const wanted = count === undefined ? 1 : count;
  return eventually(() => logMessages().slice(earlierLines).filter((m) => m.startsWith(prefix)).length >= wanted,
    `${wanted} log line(s) "${prefix}"`);
}

// The captured jobs of a queue of with-cupsd's scheduler, in job order:
// { title, hex }.
function capturedJobs(queue) {
  const folder = path.join(process.env.ORVANE_TEST_CUPS_DIR, 'out', queue);
  return fs.readdirSync(folder).filter((f) => /^\d+$/.test(f)).sort((a, b) => a - b).map((id) => ({
    title: fs.readFileSync(path.join(folder, `${id}.title`), 'binary'),
    hex: fs.readFileSync(path.join(folder, id)).toString('hex'),
  }));
}

function cups(command) {
  return execFileSync(command, Array.prototype.slice.call(arguments, 1), { encoding: 'utf8' });
}

// Runs a generator function the way a runtime with async functions runs the
// async function it stands for: every yielded value is awaited.
function runAsync(generator) {
  return new Promise((resolve, reject) => {
    const steps = generator();
    const step = (method, value) => {
      let next;
      try {
        next = steps[method](value);
      } catch (error) {
        reject(error);
        return;
      }
      if (next.done) resolve(next.value);
      else Promise.resolve(next.value).then((v) => step('next', v), (e) => step('throw', e));
    };
    step('next', undefined);
  });
}

module.exports = { splitLog, logFile, logMessages, eventually, logged, capturedJobs, cups, runAsync };
