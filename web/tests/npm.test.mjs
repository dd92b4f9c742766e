// The package as a user gets it: `npm pack`, installed into a scratch
// project, used through its API, its types and its command.
import { test, before } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

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
  assert.deepEqual(installed, ['README.md', 'cli.js', 'core.js', 'dist', 'host.js', 'index.d.ts', 'index.js', 'package.json']);
  const { version } = JSON.parse(fs.readFileSync(path.join(project, 'node_modules/kestrin/package.json'), 'utf8'));
  assert.equal(`kestrin ${version}\n`, spawnSync(native, ['-V'], { encoding: 'utf8' }).stdout);
  const types = fs.readFileSync(path.join(project, 'node_modules/kestrin/index.d.ts'), 'utf8');
  assert.match(types, /export function compile\(source: string \| Bytes, options\?: CompileOptions\): Promise<CompileResult>/);
});

test('a TypeScript program type-checks against the declarations', () => {
  fs.writeFileSync(path.join(project, 'use.ts'), `import { compile, type CompileResult } from 'kestrin';
const result: CompileResult = await compile('text', { files: { 'a.jpg': new Uint8Array(1) }, compress: true, warnings: 'error' });
const bytes: Uint8Array = result.pdf;
const line: number | undefined = result.warnings[0]?.line ?? result.stop?.line ?? result.stop?.column;
await compile('a [listing]', { plain: true, lineNumbers: true, columns: 2, paper: 'letter' });
console.log(bytes.length, line, result.console.length, result.status);
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
