// The package as a user gets it: `npm pack`, installed into a scratch
// project, used through its API, its types and its command.
import { test, before } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import zlib from 'node:zlib';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const native = process.env.KESTRIN_NATIVE ?? path.join(root, 'build/kestrin');
const examples = path.join(root, 'examples');
let project;
let kestrin;

before(() => {
  project = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrin-npm-'));
  const tarball = execFileSync('npm', ['pack', '--silent', '--ignore-scripts', '--pack-destination', project], {
    cwd: path.join(root, 'web/npm'),
    encoding: 'utf8',
  }).trim().split('\n').pop();
  fs.writeFileSync(path.join(project, 'package.json'), '{"name":"scratch","private":true,"type":"module"}');
  execFileSync('npm', ['install', '--offline', '--no-audit', '--no-fund', `./${tarball}`], { cwd: project, stdio: 'pipe' });
  kestrin = path.join(project, 'node_modules/.bin/kestrin');
});

async function load() {
  return import(path.join(project, 'node_modules/kestrin/index.js'));
}

test('the tarball holds the program, its types and nothing of the build', () => {
  const installed = fs.readdirSync(path.join(project, 'node_modules/kestrin')).sort();
  assert.deepEqual(installed, ['README.md', 'cli.js', 'core.js', 'dist', 'host.js', 'index.d.ts', 'index.js', 'package.json',
    'worker.js']);
  const { version } = JSON.parse(fs.readFileSync(path.join(project, 'node_modules/kestrin/package.json'), 'utf8'));
  assert.equal(`kestrin ${version}\n`, spawnSync(native, ['-V'], { encoding: 'utf8' }).stdout);
  const types = fs.readFileSync(path.join(project, 'node_modules/kestrin/index.d.ts'), 'utf8');
  assert.match(types, /export function compile\(source: string \| Bytes, options\?: CompileOptions\): Promise<CompileResult>/);
});

test('a TypeScript program type-checks against the declarations', () => {
  fs.writeFileSync(path.join(project, 'use.ts'), `import { compile, KestrinError, KestrinWorker, type CompileResult } from 'kestrin';
const result: CompileResult = await compile('text', { files: { 'a.jpg': new Uint8Array(1) }, compress: true, warnings: 'error' });
const worker = new KestrinWorker({ wasm: new URL('file:///kestrin.wasm') });
const inWorker: CompileResult = await worker.compile(new Uint8Array(4), { compress: true });
await worker.terminate();
const failure: Error = new KestrinError('x');
console.log(inWorker.status, failure.name);
const bytes: Uint8Array = result.pdf;
const line: number | undefined = result.warnings[0]?.line ?? result.stop?.line ?? result.stop?.column;
await compile('a [listing]', { plain: true, lineNumbers: true, columns: 2, paper: 'letter' });
const faces: string[] = (await compile('x', { liberationFonts: new Map([['LiberationSans-Regular.ttf', bytes]]) })).missingLiberationFonts;
console.log(bytes.length, line, result.console.length, result.status, faces);
// @ts-expect-error: warnings is true, false or "error"
await compile('text', { warnings: 'loud' });
`);
  const tsc = path.join(root, 'web/node_modules/typescript/bin/tsc');
  const run = spawnSync(process.execPath, [tsc, '--noEmit', '--strict', '--target', 'es2022', '--module', 'nodenext',
    '--moduleResolution', 'nodenext', 'use.ts'], { cwd: project, encoding: 'utf8' });
  assert.equal(run.stdout + run.stderr, '');
  assert.equal(run.status, 0);
});

test('compile returns the PDF, status, console text and warnings of the native program', async () => {
  const { compile } = await load();
  const cases = [
    { source: 'Hello\nWorld\n', console: '\nno errors\n', status: 0 },
    { source: 'line one\n<bogus 1>', console: 'bogus\nerror in line 2 (44)  unknown ctrl command\n', status: 1, stop: [2, 2] },
    { source: '[a block\nnever closed', console: '\nerror in line 2 (10)  unexpected end of input file\n', status: 1, stop: [1, 1] },
    { source: 'a [ { < > } ] \\ listing\n', console: '\nno errors\n', status: 0, options: { plain: true, lineNumbers: true }, args: ['--plain', '--line-numbers'] },
    { source: '<paper 200 100>a line that is far too wide for this paper\n', console: '\nno errors\n', status: 0, options: {} },
    { source: '<paper 200 100>a line that is far too wide for this paper\n', console: '\nno errors\n', status: 0, options: { warnings: false }, args: ['-w'] },
    { source: 'Hello\n', console: '\nno errors\n', status: 0, options: { compress: true }, args: ['-z'] },
    { source: new TextEncoder().encode('bytes \\101\n'), console: '\nno errors\n', status: 0 },
  ];
  for (const c of cases) {
    const result = await compile(c.source, c.options);
    assert.equal(result.console, c.console);
    assert.equal(result.status, c.status);
    assert.deepEqual(result.stop && [result.stop.line, result.stop.column], c.stop ?? null);
    const dir = fs.mkdtempSync(path.join(project, 'case-'));
    fs.writeFileSync(path.join(dir, 'document.txt'), c.source);
    const run = spawnSync(native, [...(c.args ?? []), 'document.txt', 'document.pdf'], { cwd: dir, encoding: 'latin1' });
    assert.equal(run.stdout, c.console);
    assert.equal(result.diagnostics, run.stderr);
    const written = path.join(dir, 'document.pdf');
    assert.deepEqual(Buffer.from(result.pdf), fs.existsSync(written) ? fs.readFileSync(written) : Buffer.alloc(0));
  }
});

// The document and files are lent to the program, not copied: one of them
// that the PDF replaces stays as given. A PDF of megabytes grows in place and
// comes back whole, in a buffer of its own.
test('the bytes given stay unchanged and a long PDF comes back whole', async () => {
  const { compile } = await load();
  const source = Buffer.from('a line of page text, and the next one below it\n'.repeat(200000));
  const given = Buffer.from(source);
  const result = await compile(source, { files: { 'document.pdf': source } });
  assert.equal(result.console, '\nno errors\n');
  assert.ok(source.equals(given));
  assert.equal(result.pdf.buffer.byteLength, result.pdf.length);
  const dir = fs.mkdtempSync(path.join(project, 'long-'));
  fs.writeFileSync(path.join(dir, 'document.txt'), source);
  spawnSync(native, ['document.txt', 'document.pdf'], { cwd: dir });
  assert.ok(Buffer.from(result.pdf).equals(fs.readFileSync(path.join(dir, 'document.pdf'))));
});

test('warnings and the stop are read from standard error and the console', async () => {
  const { parseWarnings, parseStop, commandLineOptions } = await load();
  const stderr = 'doc.txt:3: warning: line wider than the paper\ndoc.txt: warning: 2 more of the kind "x" not shown\n';
  assert.deepEqual(parseWarnings(stderr), [{ line: 3, message: 'line wider than the paper' }]);
  assert.deepEqual(parseStop('word\nerror in line 12 (44)  unknown ctrl command\n'), { line: 12, column: 0, code: 44, message: 'unknown ctrl command' });
  assert.deepEqual(parseStop('\nerror in line 3 (10)  unexpected end of input file\n', 'doc.txt:2:5: error: unexpected end of input file\n'),
    { line: 2, column: 5, code: 10, message: 'unexpected end of input file' });
  assert.equal(parseStop('\nno errors\n'), null);
  assert.deepEqual(commandLineOptions({ compress: true, warnings: 'error' }), ['-z', '--warnings-as-errors']);
  assert.deepEqual(commandLineOptions({ warnings: false }), ['-w']);
});

test('files given in memory are the files the document names', async () => {
  const { compile } = await load();
  const photo = fs.readFileSync(path.join(examples, 'photo.jpg'));
  const source = '<jpg+ 1 pictures/photo.jpg>A photo<pict+ 1 -297 -421 -300 -200>';
  const result = await compile(source, { files: { 'pictures/photo.jpg': photo } });
  assert.equal(result.console, '\nno errors\n');
  assert.ok(result.pdf.length > photo.length);
  const missing = await compile(source);
  assert.equal(missing.status, 1);
});

// A font among the files, and the Liberation faces given only after the run
// asked for them: the native program's bytes.
test('fonts given in memory give the native program\'s PDF', async () => {
  const { compile } = await load();
  const dejavu = '/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf';
  const liberation = '/usr/share/fonts/truetype/liberation2';
  const cases = [
    ['<encoding utf8><font 15 DejaVuSans.ttf><inittext [/F15 14 Tf 25 811 Td 16 TL]>Ξεσκεπάζω, مرحبا', { 'DejaVuSans.ttf': dejavu }, []],
    ['<encoding utf8>[/F5 14 Tf]Zażółć [/F12 14 Tf]gęślą', {}, ['LiberationSans-Regular.ttf', 'LiberationSerif-Italic.ttf']],
  ];
  for (const [source, named, faces] of cases) {
    const dir = fs.mkdtempSync(path.join(project, 'fonts-'));
    const files = {};
    for (const [name, file] of Object.entries(named)) {
      fs.copyFileSync(file, path.join(dir, name));
      files[name] = fs.readFileSync(file);
    }
    const first = await compile(source, { files });
    assert.deepEqual(first.missingLiberationFonts, faces);
    assert.equal(first.stop?.code, faces.length ? 84 : undefined, first.diagnostics);
    const liberationFonts = new Map(faces.map((name) => [name, fs.readFileSync(path.join(liberation, name))]));
    const result = await compile(source, { files, liberationFonts });
    fs.writeFileSync(path.join(dir, 'document.txt'), source);
    const run = spawnSync(native, ['document.txt', 'document.pdf'], { cwd: dir, encoding: 'latin1' });
    assert.equal(result.console, run.stdout);
    assert.deepEqual(result.missingLiberationFonts, []);
    assert.ok(Buffer.from(result.pdf).equals(fs.readFileSync(path.join(dir, 'document.pdf'))), source);
  }
});

test('the command converts like the native program, with its console text and status', () => {
  const dir = fs.mkdtempSync(path.join(project, 'cli-'));
  fs.cpSync(examples, dir, { recursive: true });
  fs.writeFileSync(path.join(dir, 'bad.txt'), 'text <nothing>');
  const hello = fs.readFileSync(path.join(dir, 'hello.txt'));
  const cases = [
    [['hello.txt', 'a.pdf']], [['-z', 'pictures.txt', 'b.pdf']], [['bad.txt', 'c.pdf']], [['missing.txt', 'd.pdf']],
    [['hello.txt']], [['-h']], [['-V']], [['--bogus', 'hello.txt', 'e.pdf']], [['-', 'f.pdf'], hello], [['hello.txt', '-']],
  ];
  for (const [args, input] of cases) {
    const output = args.at(-1).endsWith('.pdf') ? path.join(dir, args.at(-1)) : null;
    const wasm = spawnSync(kestrin, args, { cwd: dir, encoding: 'latin1', input });
    const written = output && fs.existsSync(output) && fs.readFileSync(output);
    if (output) fs.rmSync(output, { force: true });
    const nativeRun = spawnSync(native, args, { cwd: dir, encoding: 'latin1', input });
    assert.equal(wasm.stdout, nativeRun.stdout, args.join(' '));
    assert.equal(wasm.stderr, nativeRun.stderr, args.join(' '));
    assert.equal(wasm.status, nativeRun.status, args.join(' '));
    assert.deepEqual(written, output && fs.existsSync(output) && fs.readFileSync(output), args.join(' '));
  }
});

// Pictures that fail in every way a hostile file can make them fail; the
// first is 69 bytes whose sizes overflow 32 bits in WebAssembly.
function hostilePictures() {
  const crc = (bytes) => {
    let c = ~0;
    for (const byte of bytes) {
      c ^= byte;
      for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    }
    return ~c >>> 0;
  };
  const chunk = (type, data) => {
    const bytes = Buffer.alloc(12 + data.length);
    bytes.writeUInt32BE(data.length, 0);
    bytes.write(type, 4, 'latin1');
    data.copy(bytes, 8);
    bytes.writeUInt32BE(crc(bytes.subarray(4, 8 + data.length)), 8 + data.length);
    return bytes;
  };
  const head = Buffer.from([0, 1, 0, 0, 0, 0, 0xff, 0xf4, 8, 6, 0, 0, 0]);  // 65536 x 65524 RGBA
  const wide = Buffer.concat([Buffer.from('\x89PNG\r\n\x1a\n', 'latin1'), chunk('IHDR', head),
    chunk('IDAT', zlib.deflateSync(Buffer.alloc(100))), chunk('IEND', Buffer.alloc(0))]);
  const data = path.join(root, 'tests/data');
  return [wide, ...['image/cut-data.png', 'image/cut-header.png', 'image/no-image.gif', 'image/picture.bmp',
    'gif/truncated.gif'].map((name) => fs.readFileSync(path.join(data, name)))];
}

// A server compiles what it is sent: every failing picture resolves with its
// stop, and the program's memory and descriptors stay flat over many calls.
// (KESTRIN_HOSTILE_RUNS=10000 for the long run.)
test('failing pictures leave neither memory nor descriptors behind', async () => {
  const { compile } = await load();
  const { loadKestrin } = await import(path.join(project, 'node_modules/kestrin/core.js'));
  const pictures = hostilePictures();
  const runs = Number(process.env.KESTRIN_HOSTILE_RUNS ?? 600);
  const state = (module) => ({ memory: module._kestrin_memory_in_use(), streams: module.FS.streams.filter(Boolean).length });
  let module, start;
  for (let i = 0; i < runs; i++) {
    const picture = pictures[i % pictures.length];
    const result = await compile('<image 1 p.png>', { files: { 'p.png': picture } });
    assert.equal(result.status, 1, result.console);
    assert.ok(result.stop && result.pdf.length === 0, result.console);
    if (i === 2 * pictures.length) {
      module = await loadKestrin();
      start = state(module);
    }
  }
  // Flat: the allocator's count moves by a chunk or two with where a stop's
  // exception happens to be freed, while a leak of even 8 bytes a run would
  // add thousands.
  const end = state(module);
  assert.equal(end.streams, start.streams);
  assert.ok(Math.abs(end.memory - start.memory) <= 64, `${start.memory} bytes in use, then ${end.memory}`);
  assert.equal(await loadKestrin(), module);  // the same instance all along
  if (process.env.KESTRIN_HOSTILE_RUNS) console.log(runs, 'runs', state(module), 'rss', process.memoryUsage().rss);
});

// A trap of the WebAssembly program rejects with a KestrinError and drops the
// instance; the next compile starts on a fresh one.
test('a trap drops the program and the next compile starts afresh', async () => {
  const { compile, KestrinError } = await load();
  const { loadKestrin } = await import(path.join(project, 'node_modules/kestrin/core.js'));
  const traps = [
    // argv at an address beyond the memory: a real "memory access out of bounds"
    [(run) => (argc) => run(argc, 0xfffffff0, 1), /memory access out of bounds/],
    [() => () => { throw new RangeError('Maximum call stack size exceeded'); }, /call stack/],
  ];
  for (const [make, message] of traps) {
    const module = await loadKestrin();
    module._kestrin_run = make(module._kestrin_run);
    await assert.rejects(compile('Hello\n'), (error) => error instanceof KestrinError && message.test(error.message));
    assert.notEqual(await loadKestrin(), module);
    assert.equal((await compile('Hello\n')).console, '\nno errors\n');
  }
});

// KestrinWorker gives compile()'s results while the main thread stays free,
// and an idle worker lets Node end.
test('KestrinWorker compiles off the main thread', async () => {
  const { compile, KestrinWorker } = await load();
  const worker = new KestrinWorker();
  const source = 'a line of text that runs on\n'.repeat(100000);
  let ticks = 0;
  const timer = setInterval(() => ticks++, 1);
  const result = await worker.compile(source, { compress: true });
  clearInterval(timer);
  assert.ok(ticks >= 5, `the main thread ran ${ticks} timers meanwhile`);
  const here = await compile(source, { compress: true });
  assert.deepEqual(result.pdf, here.pdf);
  assert.equal(result.console, here.console);
  const failed = await worker.compile('<image 1 p.png>', { files: { 'p.png': hostilePictures()[1] } });
  assert.equal(failed.stop?.code, 82);
  await worker.terminate();
  assert.equal((await worker.compile('Hello\n')).console, '\nno errors\n');  // a new worker
  await worker.terminate();

  fs.writeFileSync(path.join(project, 'idle.mjs'), `import { KestrinWorker } from 'kestrin';
const worker = new KestrinWorker();
console.log((await worker.compile('Hello\\n')).status);
`);
  const idle = spawnSync(process.execPath, ['idle.mjs'], { cwd: project, encoding: 'utf8', timeout: 60000 });
  assert.equal(idle.stdout, '0\n', idle.stderr);
  assert.equal(idle.status, 0);
});
