// Editor latencies: from a keystroke to the diagnostics of the language
// server, and from a save to the new PDF in watch mode; medians.
//   node bench/editor.mjs KESTRIN TEXT...   (vscode-jsonrpc from editors/vscode)
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { pathToFileURL } from 'node:url';

const require = createRequire(new URL('../editors/vscode/package.json', import.meta.url));
const rpc = require('vscode-jsonrpc/node');
const [kestrin, ...texts] = process.argv.slice(2);
const keystrokes = 25;
const median = (values) => values.sort((a, b) => a - b)[Math.floor(values.length / 2)];
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function keystrokeLatency(file, debounce) {
  const child = spawn(kestrin, ['--lsp'], { stdio: ['pipe', 'pipe', 'inherit'] });
  const connection = rpc.createMessageConnection(
    new rpc.StreamMessageReader(child.stdout), new rpc.StreamMessageWriter(child.stdin));
  const waiting = new Map();
  connection.onNotification('textDocument/publishDiagnostics', (p) => waiting.get(p.version)?.(p));
  connection.listen();
  const published = (version) => new Promise((resolve) => waiting.set(version, resolve));
  await connection.sendRequest('initialize', {
    processId: process.pid, rootUri: null, capabilities: {}, initializationOptions: { debounce },
  });
  const uri = pathToFileURL(path.resolve(file)).href;
  const opened = published(1);
  connection.sendNotification('textDocument/didOpen', {
    textDocument: { uri, languageId: 'kestrin', version: 1, text: fs.readFileSync(file, 'utf8') },
  });
  await opened;
  const times = [];
  for (let version = 2; version < 2 + keystrokes; ++version) {
    const done = published(version);
    const start = performance.now();
    connection.sendNotification('textDocument/didChange', {
      textDocument: { uri, version },
      contentChanges: [{ range: { start: { line: 2, character: 0 }, end: { line: 2, character: 0 } }, text: 'x' }],
    });
    await done;
    times.push(performance.now() - start);
    await sleep(150);  // a typist's pace
  }
  await connection.sendRequest('shutdown');
  connection.sendNotification('exit');
  return median(times);
}

async function saveLatency(file) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrin-watch-'));
  const input = path.join(dir, 'doc.txt'), output = path.join(dir, 'doc.pdf');
  const text = fs.readFileSync(file);
  fs.writeFileSync(input, text);
  const child = spawn(kestrin, ['--watch', input, output], { stdio: ['ignore', 'ignore', 'pipe'] });
  let lines = 0;
  child.stderr.on('data', (chunk) => { lines += chunk.toString().split('\n').length - 1; });
  while (lines < 1) await sleep(5);
  const times = [];
  for (let i = 0; i < 10; ++i) {
    const before = fs.statSync(output).ino;
    fs.writeFileSync(input + '.new', Buffer.concat([text, Buffer.from(`x${i}\n`)]));
    const start = performance.now();
    fs.renameSync(input + '.new', input);
    while (fs.statSync(output).ino === before) await sleep(1);
    times.push(performance.now() - start);
    await sleep(100);
  }
  child.kill('SIGINT');
  fs.rmSync(dir, { recursive: true });
  return median(times);
}

for (const file of texts) {
  const size = `${(fs.statSync(file).size / 1e3).toFixed(0)} kB`;
  const typed = await keystrokeLatency(file, 200);
  const compiled = await keystrokeLatency(file, 0);
  const saved = await saveLatency(file);
  console.log(`${path.basename(file).padEnd(12)} ${size.padStart(8)}  keystroke to diagnostics ` +
              `${typed.toFixed(1)} ms (${compiled.toFixed(1)} ms without debounce), ` +
              `save to new PDF in watch mode ${saved.toFixed(1)} ms`);
}
