// Every document the test suite compiles (kept by `make test` in
// build/documents) and every example, through the WebAssembly build and the
// native program: the same PDF bytes, console text, standard error and status.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { loadKestrin, runKestrin } from '../npm/core.js';
import { mountHost } from '../npm/host.js';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const native = process.env.KESTRIN_NATIVE ?? path.join(root, 'build/kestrin');
const documents = process.env.KESTRIN_DOCUMENTS ?? path.join(path.dirname(native), 'documents');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrin-same-'));
const module = await loadKestrin();
mountHost(module);

// The command-line options the documents run with; the examples run with all.
const documentOptions = [[], ['-z']];
const exampleOptions = [[], ['-z'], ['-w'], ['--warnings-as-errors']];

function compare(dir, name, options) {
  const label = `${name} ${options.join(' ')}`;
  const nativePdf = path.join(work, 'native.pdf');
  const wasmPdf = path.join(work, 'wasm.pdf');
  fs.rmSync(nativePdf, { force: true });
  fs.rmSync(wasmPdf, { force: true });
  const expected = spawnSync(native, [...options, name, nativePdf], { cwd: dir, encoding: 'latin1' });
  module.FS.chdir(dir);
  const got = runKestrin(module, ['kestrin', ...options, name, wasmPdf], true);
  // The captured bytes as they are, not decoded as UTF-8: a message may quote
  // input bytes that aren't UTF-8, and a wrong byte must not hide behind U+FFFD.
  const captured = (data, size) => Buffer.from(module.HEAPU8.subarray(data, data + size)).toString('latin1');
  const consoleText = captured(module._kestrin_console(), module._kestrin_console_size());
  const diagnostics = captured(module._kestrin_diagnostics(), module._kestrin_diagnostics_size());
  assert.equal(consoleText, expected.stdout, label);
  assert.equal(diagnostics, expected.stderr.replaceAll(nativePdf, wasmPdf), label);
  assert.equal(got.status, expected.status, label);
  assert.equal(fs.existsSync(wasmPdf), fs.existsSync(nativePdf), label);
  if (fs.existsSync(nativePdf)) assert.ok(fs.readFileSync(wasmPdf).equals(fs.readFileSync(nativePdf)), `${label}: PDF differs`);
}

test('every document of the test suite', () => {
  assert.ok(fs.existsSync(documents), `${documents} is missing: make test keeps the documents there`);
  const names = fs.readdirSync(documents).filter((name) => name.endsWith('.txt')).sort();
  assert.ok(names.length > 100, `only ${names.length} documents`);
  // The hostile pictures the tests craft (sizes that a 32-bit size_t would
  // wrap among them) must be refused here exactly as natively.
  const crafted = names.filter((name) => name.startsWith('CraftedPictures.'));
  assert.ok(crafted.length >= 40, `only ${crafted.length} documents of crafted pictures`);
  for (const options of documentOptions) for (const name of names) compare(documents, name, options);
});

test('every example', () => {
  const dir = path.join(root, 'examples');
  const names = fs.readdirSync(dir).filter((name) => name.endsWith('.txt'));
  assert.ok(names.length >= 5);
  for (const options of exampleOptions) for (const name of names) compare(dir, name, options);
});
