// The language server driven by vscode-jsonrpc, the JSON-RPC library of VS
// Code's language client, and the packaged extension's contents.
//   KESTRIN=build/kestrin VSIX=build/kestrin.vsix node --test editors/vscode/test/
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import rpc from 'vscode-jsonrpc/node.js';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '../../..');
const kestrin = path.resolve(process.env.KESTRIN ?? path.join(root, 'build/kestrin'));

// A server and a connection to it; `diagnostics()` resolves with the next
// publishDiagnostics of `uri`.
function start(initializationOptions = {}) {
  const child = spawn(kestrin, ['--lsp'], { stdio: ['pipe', 'pipe', 'inherit'] });
  const connection = rpc.createMessageConnection(
    new rpc.StreamMessageReader(child.stdout),
    new rpc.StreamMessageWriter(child.stdin),
    { error() {}, warn() {}, info() {}, log() {} },
  );
  const waiting = [];
  const published = [];
  connection.onNotification('textDocument/publishDiagnostics', (params) => {
    const waiter = waiting.shift();
    if (waiter) waiter(params);
    else published.push(params);
  });
  connection.listen();
  const diagnostics = () =>
    published.length ? Promise.resolve(published.shift()) : new Promise((r) => waiting.push(r));
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  return { child, connection, diagnostics, exited, initializationOptions };
}

async function initialize(server) {
  const result = await server.connection.sendRequest('initialize', {
    processId: process.pid,
    rootUri: null,
    capabilities: { textDocument: { completion: { completionItem: { snippetSupport: true } } } },
    initializationOptions: server.initializationOptions,
  });
  server.connection.sendNotification('initialized', {});
  return result;
}

async function stop(server) {
  await server.connection.sendRequest('shutdown');
  server.connection.sendNotification('exit');
  assert.equal(await server.exited, 0);
  server.connection.dispose();
}

function folderWithPicture() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrin-lsp-'));
  fs.copyFileSync(path.join(root, 'tests/data/jpeg/small-200x100.jpg'), path.join(dir, 'photo.jpg'));
  return dir;
}

const at = (line, character) => ({ line, character });

test('a session: diagnostics appear and clear, hover, completion, symbols, definition', async () => {
  const dir = folderWithPicture();
  const uri = pathToFileURL(path.join(dir, 'doc.kst')).href;
  const server = start();
  const { capabilities } = await initialize(server);
  assert.equal(capabilities.hoverProvider, true);
  assert.equal(capabilities.textDocumentSync.change, 2);

  const text =
    '<image 1 photo.jpg outline 1 [Pictures]>Here is a photo:\n' +
    '<pict+ 1 0 0 0 0 outline 2 [The photo]>[/F6 14 Tf]Caption\n' +
    '<nonsense>\n';
  server.connection.sendNotification('textDocument/didOpen', {
    textDocument: { uri, languageId: 'kestrin', version: 1, text },
  });
  let published = await server.diagnostics();
  assert.equal(published.diagnostics.length, 1);
  const [stop1] = published.diagnostics;
  assert.equal(stop1.code, 44);
  assert.equal(stop1.severity, 1);
  assert.equal(stop1.message, 'unknown ctrl command: nonsense');
  assert.equal(stop1.range.start.line, 2);

  // Mend it: the stop goes; a font that does not exist gives a warning.
  const doc = { uri, version: 2 };
  server.connection.sendNotification('textDocument/didChange', {
    textDocument: doc,
    contentChanges: [{ range: { start: at(2, 1), end: at(2, 9) }, text: 'rotate 0' }],
  });
  published = await server.diagnostics();
  assert.deepEqual(published.diagnostics, []);
  server.connection.sendNotification('textDocument/didChange', {
    textDocument: { uri, version: 3 },
    contentChanges: [{ range: { start: at(1, 41), end: at(1, 43) }, text: 'F99' }],
  });
  published = await server.diagnostics();
  assert.equal(published.version, 3);
  assert.deepEqual(
    published.diagnostics.map((d) => [d.severity, d.code, d.range.start.line]),
    [[2, 'font name', 1]],
  );

  const request = (method, position) =>
    server.connection.sendRequest(method, { textDocument: { uri }, position });
  let hover = await request('textDocument/hover', at(1, 3));
  assert.match(hover.contents.value, /^\*\*pict\+\*\* \*picture x y width height\*/);
  hover = await request('textDocument/hover', at(1, 7));
  assert.match(hover.contents.value, /Picture 1\*\*: `photo.jpg`, registered by image on line 1/);
  hover = await request('textDocument/hover', at(1, 48));
  assert.match(hover.contents.value, /^`font size Tf`\n\nselects a font and size/);

  const completion = await request('textDocument/completion', at(1, 1));
  const pict = completion.items.find((item) => item.label === 'pict+');
  assert.equal(pict.textEdit.newText, 'pict+ ${1:picture} ${2:x} ${3:y} ${4:width} ${5:height}');
  const files = await request('textDocument/completion', at(0, 9));
  assert.deepEqual(files.items.map((item) => item.label), ['photo.jpg']);

  const symbols = await server.connection.sendRequest('textDocument/documentSymbol', {
    textDocument: { uri },
  });
  assert.deepEqual(
    symbols.map((s) => [s.name, s.children.map((c) => c.name)]),
    [['Pictures', ['The photo']]],
  );
  const definition = await request('textDocument/definition', at(1, 7));
  assert.deepEqual(definition.range, { start: at(0, 1), end: at(0, 18) });

  // From the sound action to the sound command.
  const sounds = pathToFileURL(path.join(dir, 'sounds.kst')).href;
  server.connection.sendNotification('textDocument/didOpen', {
    textDocument: {
      uri: sounds, languageId: 'kestrin', version: 1,
      text: '<sound 3 8000 1 8 Raw tone.raw>Page\n<action 1 2 3 4 0 <sound 3 next>>\n',
    },
  });
  const sound = await server.connection.sendRequest('textDocument/definition', {
    textDocument: { uri: sounds }, position: at(1, 25),
  });
  assert.deepEqual([sound.uri, sound.range], [sounds, { start: at(0, 1), end: at(0, 30) }]);
  await stop(server);
});

test('a malformed message and an unknown method get errors and the server goes on', async () => {
  const server = start();
  await initialize(server);
  const body = '{"jsonrpc": "2.0", "id": 7, "method": ';
  server.child.stdin.write(`Content-Length: ${body.length}\r\n\r\n${body}`);
  server.child.stdin.write('Content-Length: nine\r\n\r\n');
  await assert.rejects(server.connection.sendRequest('kestrin/nothing', {}), { code: -32601 });
  await assert.rejects(
    server.connection.sendRequest('textDocument/hover', { position: at(0, 0) }),
    { code: -32602 },
  );
  assert.equal(await server.connection.sendRequest('textDocument/documentSymbol', {
    textDocument: { uri: 'file:///not/open.kst' },
  }), null);
  await stop(server);
});

// Each change is checked before the next is sent (no debounce), so that
// every one compiles; the server's memory after 1,000 of them is the memory
// after 100.
test('1,000 changes keep memory flat', async () => {
  const letter = fs.readFileSync(path.join(root, 'examples/letter.txt'), 'utf8');
  const uri = pathToFileURL(path.join(os.tmpdir(), 'kestrin-memory.kst')).href;
  const server = start({ debounce: 0 });
  await initialize(server);
  server.connection.sendNotification('textDocument/didOpen', {
    textDocument: { uri, languageId: 'kestrin', version: 1, text: letter.repeat(20) },
  });
  await server.diagnostics();
  const resident = () =>
    Number(/VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${server.child.pid}/status`, 'utf8'))[1]);
  let early = 0;
  for (let version = 2; version <= 1001; ++version) {
    server.connection.sendNotification('textDocument/didChange', {
      textDocument: { uri, version },
      contentChanges: [{ range: { start: at(3, 0), end: at(3, 0) }, text: 'x' }],
    });
    assert.equal((await server.diagnostics()).version, version);
    if (version === 101) early = resident();
  }
  const late = resident();
  assert.ok(late - early < 1024, `resident memory grew from ${early} kB to ${late} kB`);
  await stop(server);
});

test('the extension package holds the manifest, the client, the grammar and the snippets', () => {
  const vsix = process.env.VSIX ?? path.join(root, 'build/kestrin.vsix');
  // The names in the archive and the text of a few files, read in one go.
  const script =
    'import json,sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); ' +
    'print(json.dumps({"names": z.namelist(), "files": {n: z.read(n).decode() for n in sys.argv[2:]}}))';
  const { names, files } = JSON.parse(execFileSync('python3', ['-c', script, vsix,
    'extension/package.json', 'extension/syntaxes/kestrin.tmLanguage.json',
    'extension/dist/extension.js'], { encoding: 'utf8' }));
  for (const name of [
    'extension.vsixmanifest',
    'extension/package.json',
    'extension/dist/extension.js',
    'extension/syntaxes/kestrin.tmLanguage.json',
    'extension/language-configuration.json',
    'extension/snippets/kestrin.json',
  ])
    assert.ok(names.includes(name), name);
  assert.ok(!names.some((name) => /node_modules|extension\/src\//.test(name)), names.join(' '));
  const read = (name) => files[name];
  const manifest = JSON.parse(read('extension/package.json'));
  assert.equal(manifest.contributes.grammars[0].scopeName, 'source.kestrin');
  assert.equal(manifest.contributes.languages[0].id, 'kestrin');
  assert.equal(
    read('extension/syntaxes/kestrin.tmLanguage.json'),
    fs.readFileSync(path.join(root, 'editors/textmate/kestrin.tmLanguage.json'), 'utf8'),
  );
  const client = read('extension/dist/extension.js');
  assert.match(client, /--lsp/);
  assert.match(client, /textDocument\/publishDiagnostics/);  // the language client is bundled
});
