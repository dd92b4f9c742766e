// kestrin for JavaScript: compiles a marked-up text into a PDF with the same
// WebAssembly program everywhere, byte for byte what the native program
// writes. Nothing touches the disk: the document and the files it names live
// in the program's in-memory file system for the length of one run.
import { KestrinError, loadKestrin, runKestrin } from './core.js';

export { KestrinError };

const encoder = new TextEncoder();
let runs = 0;
const isNode = typeof process === 'object' && typeof process.versions?.node === 'string';

function bytesOf(value) {
  if (typeof value === 'string') return encoder.encode(value);
  if (value instanceof Uint8Array) return value;
  if (ArrayBuffer.isView(value)) return new Uint8Array(value.buffer, value.byteOffset, value.byteLength);
  if (value instanceof ArrayBuffer) return new Uint8Array(value);
  throw new TypeError('kestrin: a document and its files must be strings or bytes');
}

// The files of a run live in the program's in-memory file system. The
// document and the files given are lent to it, not copied: a file the program
// writes to is copied first, so the caller's bytes never change. The files
// the program writes (the PDF) grow in place, in a resizable buffer where
// the engine has one, instead of being copied into a larger buffer again
// and again; handOver then moves the PDF into a buffer of its exact size
// from the end backwards, shrinking the resizable one as it goes, so that
// the PDF is not held twice. Without resizable buffers a file doubles.
const reservation = 2 ** 32;  // the address space a growing file reserves
const growthStep = 1 << 20;
const handOverStep = 4 << 20;
const resizable = (() => {
  try {
    return new ArrayBuffer(0, { maxByteLength: 1 }).resizable === true;
  } catch {
    return false;
  }
})();
const patched = new WeakSet();

function growInPlace(node, end) {
  const contents = node.contents;
  const capacity = contents ? contents.length : 0;
  if (end <= capacity || !(contents instanceof Uint8Array)) return;
  const wanted = Math.max(end, capacity + Math.floor(capacity / 8));
  const size = Math.min(Math.ceil(wanted / growthStep) * growthStep, reservation);
  if (contents.buffer.resizable && contents.byteOffset === 0 && end <= reservation) {
    contents.buffer.resize(size);  // a view that tracks the buffer's length
    return;
  }
  let grown = null;
  if (resizable && end <= reservation) {
    try {
      grown = new Uint8Array(new ArrayBuffer(size, { maxByteLength: reservation }));
    } catch {
      // no address space for it: a plain buffer below
    }
  }
  grown ??= new Uint8Array(Math.max(end, capacity * 2));
  grown.set(contents.subarray(0, node.usedBytes));
  node.contents = grown;
}

// Makes the program's writes to the in-memory files go through growInPlace
// and copy lent bytes before changing them.
function patchWrites(module, FS) {
  if (patched.has(module)) return;
  patched.add(module);
  FS.writeFile('/.kestrin-probe', new Uint8Array(0));
  const ops = FS.lookupPath('/.kestrin-probe').node.stream_ops;
  FS.unlink('/.kestrin-probe');
  const write = ops.write;
  ops.write = (stream, buffer, offset, length, position, canOwn) => {
    const node = stream.node;
    if (length > 0 && node.lent && node.contents) {
      node.contents = node.contents.slice(0, node.usedBytes);
      node.lent = false;
    }
    try {
      if (length > 0 && node.usedBytes > 0) growInPlace(node, position + length);
    } catch (error) {
      // No memory for a larger file: the write fails as on a full disk, and
      // the run stops with "can't write the output" instead of trapping.
      if (error instanceof RangeError) throw new FS.ErrnoError(51);  // ENOSPC
      throw error;
    }
    return write(stream, buffer, offset, length, position, canOwn);
  };
}

function lend(FS, path, bytes) {
  FS.writeFile(path, bytes, { canOwn: bytes.length > 0 });
  if (bytes.length > 0) FS.lookupPath(path).node.lent = true;
}

// The bytes of the file at `path`, which is then emptied; empty when there
// is no such file.
function handOver(FS, path) {
  let node;
  try {
    node = FS.lookupPath(path, { follow: true }).node;
  } catch {
    return new Uint8Array(0);
  }
  const contents = node.contents;
  const size = node.usedBytes ?? 0;
  if (!FS.isFile(node.mode)) return new Uint8Array(0);
  if (size > 0 && !(contents instanceof Uint8Array)) return FS.readFile(path);
  node.contents = null;
  node.usedBytes = 0;
  if (size === 0) return new Uint8Array(0);
  if (!contents.buffer.resizable || node.lent) {
    const whole = !node.lent && contents.byteOffset === 0 && contents.buffer.byteLength === size;
    return whole ? contents : contents.slice(0, size);
  }
  const bytes = new Uint8Array(size);
  for (let end = size; end > 0; ) {
    const start = Math.max(0, end - handOverStep);
    bytes.set(contents.subarray(start, end), start);
    contents.buffer.resize(start);
    end = start;
  }
  return bytes;
}

function makeTree(FS, path) {
  const parts = path.split('/');
  parts.pop();
  let at = path.startsWith('/') ? '' : '.';
  for (const part of parts) {
    if (!part) continue;
    at += `/${part}`;
    try {
      FS.mkdir(at);
    } catch {
      // already there
    }
  }
}

function removeTree(FS, path) {
  for (const name of FS.readdir(path)) {
    if (name === '.' || name === '..') continue;
    const child = `${path}/${name}`;
    if (FS.isDir(FS.lstat(child).mode)) removeTree(FS, child);
    else FS.unlink(child);
  }
  FS.rmdir(path);
}

// The command-line options that `options` stands for.
export function commandLineOptions(options = {}) {
  const args = [];
  if (options.compress) args.push('-z');
  if (options.warnings === false) args.push('-w');
  else if (options.warnings === 'error') args.push('--warnings-as-errors');
  if (options.encoding) args.push('--encoding', options.encoding);
  if (options.plain) {
    args.push('--plain');
    if (options.font) args.push('--font', String(options.font));
    if (options.size) args.push('--size', String(options.size));
    if (options.paper) args.push('--paper', options.paper);
    if (options.lineNumbers) args.push('--line-numbers');
    if (options.columns) args.push('--columns', String(options.columns));
  }
  return args;
}

// Parses "FILE:LINE: warning: TEXT" lines of standard error.
export function parseWarnings(diagnostics) {
  const warnings = [];
  for (const text of diagnostics.split('\n')) {
    const match = /^.*?:(\d+): warning: (.*)$/.exec(text);
    if (match) warnings.push({ line: Number(match[1]), message: match[2] });
  }
  return warnings;
}

// Parses the console's error line, "error in line N (CODE)  MESSAGE", and
// the place standard error gives the stop, "FILE:LINE:COLUMN: error:
// MESSAGE": the line and column of what caused it (column 0 when the stop
// has no place in the input).
export function parseStop(consoleText, diagnostics = '') {
  const match = /error in line (\d+) \((\d+)\) {2}(.*)/.exec(consoleText);
  if (!match) return null;
  const place = /^.*:(\d+):(\d+): error: .*$/m.exec(diagnostics);
  return {
    line: Number(place ? place[1] : match[1]),
    column: place ? Number(place[2]) : 0,
    code: Number(match[2]),
    message: match[3],
  };
}

// Loads the WebAssembly program ahead of the first compile; `wasm` may be
// the bytes of kestrin.wasm or its URL (by default next to this module).
export async function init(options = {}) {
  await loadKestrin(options.wasm);
}

// Where the program reads the Liberation faces that draw what the standard
// fonts lack, as Debian's fonts-liberation2 installs them natively.
const liberationFolder = '/usr/share/fonts/truetype/liberation2';

function entriesOf(files) {
  return files instanceof Map ? [...files] : Object.entries(files ?? {});
}

export async function compile(source, options = {}) {
  const liberation = entriesOf(options.liberationFonts).map(([name, data]) => {
    if (name.includes('/')) throw new TypeError(`kestrin: liberationFonts are named by file name alone: ${name}`);
    return [`${liberationFolder}/${name}`, data];
  });
  const module = await loadKestrin(options.wasm);
  const { FS } = module;
  patchWrites(module, FS);
  const dir = `/run-${++runs}`;
  const name = options.name ?? 'document.txt';
  const output = name.replace(/\.[^./]*$/, '') + '.pdf';
  FS.mkdir(dir);
  const created = [];
  let instanceFailed = false;
  try {
    FS.chdir(dir);
    for (const [path, data] of [...entriesOf(options.files), ...liberation]) {
      makeTree(FS, path);
      lend(FS, path, bytesOf(data));
      if (path.startsWith('/')) created.push(path);
    }
    makeTree(FS, name);
    lend(FS, name, bytesOf(source));
    let run;
    try {
      run = runKestrin(module, ['kestrin', ...commandLineOptions(options), '--', name, output], true);
    } catch (error) {
      instanceFailed = error instanceof KestrinError;  // dropped: nothing to tidy
      throw error;
    }
    const pdf = handOver(FS, output);
    return {
      pdf,
      status: run.status,
      console: run.console,
      diagnostics: run.diagnostics,
      warnings: parseWarnings(run.diagnostics),
      stop: parseStop(run.console, run.diagnostics),
      missingLiberationFonts: run.facesAbsent,
    };
  } finally {
    if (!instanceFailed) {
      FS.chdir('/');
      removeTree(FS, dir);
      for (const path of created) {
        try {
          FS.unlink(path);
        } catch {
          // gone already
        }
      }
    }
  }
}

// compile() in a worker of its own (Node's worker_threads, or a browser's
// Worker), so that a long document does not hold up the thread that asks for
// it. Runs are done one after another; a worker that dies fails the runs it
// had and is replaced at the next compile. In Node the worker does not keep
// the process alive while it has nothing to do.
export class KestrinWorker {
  #wasm;
  #worker = null;
  #waiting = new Map();
  #next = 0;

  constructor(options = {}) {
    this.#wasm = options.wasm instanceof URL ? String(options.wasm) : options.wasm;
  }

  async #start() {
    const script = new URL('./worker.js', import.meta.url);
    const fail = (error) => {
      for (const { reject } of this.#waiting.values()) reject(error);
      this.#waiting.clear();
      this.#worker = null;
    };
    if (isNode) {
      const { Worker } = await import(/* webpackIgnore: true */ 'node:worker_threads');
      const worker = new Worker(script, { workerData: { wasm: this.#wasm } });
      worker.on('message', (message) => this.#settle(message));
      worker.on('error', (error) => fail(new KestrinError(`kestrin: the worker failed: ${error.message}`, { cause: error })));
      worker.on('exit', () => fail(new KestrinError('kestrin: the worker ended')));
      worker.unref();
      return { post: (message) => worker.postMessage(message), ref: (on) => (on ? worker.ref() : worker.unref()),
        end: () => worker.terminate() };
    }
    const worker = new Worker(script, { type: 'module' });
    worker.onmessage = (event) => this.#settle(event.data);
    worker.onerror = (event) => {
      event.preventDefault?.();
      fail(new KestrinError(`kestrin: the worker failed: ${event.message}`));
      worker.terminate();
    };
    worker.postMessage({ wasm: this.#wasm });
    return { post: (message) => worker.postMessage(message), ref: () => {}, end: () => worker.terminate() };
  }

  #settle({ id, result, error }) {
    const waiting = this.#waiting.get(id);
    if (!waiting) return;
    this.#waiting.delete(id);
    if (this.#waiting.size === 0) this.#worker?.then((worker) => worker.ref(false));
    if (error) waiting.reject(new KestrinError(error));
    else waiting.resolve(result);
  }

  // The same as compile(source, options), in the worker.
  async compile(source, options = {}) {
    if (!this.#worker) this.#worker = this.#start();
    const worker = await this.#worker;
    const id = ++this.#next;
    const { wasm, ...rest } = options;  // the worker has its program already
    const done = new Promise((resolve, reject) => this.#waiting.set(id, { resolve, reject }));
    worker.ref(true);
    worker.post({ id, source, options: rest });
    return done;
  }

  // Ends the worker; runs still waiting fail.
  async terminate() {
    const worker = await this.#worker;
    this.#worker = null;
    await worker?.end();
  }
}
