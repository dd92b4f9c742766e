// The WebAssembly program and one run of it: the module is instantiated
// once, and each run passes a command line exactly as the native program
// takes it. The .wasm file is read from disk in Node and fetched elsewhere.
//
// A run ends in a stop (any C++ exception included), so a run that throws
// here is a trap of the program itself ("memory access out of bounds",
// "unreachable", a stack overflow): the instance is then dropped, and the
// next run starts on a fresh one.
import createKestrinModule from './dist/kestrin-core.js';

let pending = null;
let loaded = null;  // the instance pending resolved to

const isNode = typeof process === 'object' && typeof process.versions?.node === 'string';

async function wasmBytes(wasm) {
  if (wasm instanceof ArrayBuffer || ArrayBuffer.isView(wasm)) return wasm;
  const url = wasm ?? new URL('./dist/kestrin.wasm', import.meta.url);
  if (isNode && String(url).startsWith('file:')) {
    const { readFile } = await import(/* webpackIgnore: true */ 'node:fs/promises');
    return readFile(new URL(String(url)));
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`kestrin: can't load ${url}: ${response.status}`);
  return response.arrayBuffer();
}

// Instantiates the program once; `wasm` may be the .wasm file's bytes or URL.
export function loadKestrin(wasm) {
  if (!pending) {
    const loading = wasmBytes(wasm).then((bytes) =>
      createKestrinModule({
        wasmBinary: bytes,
        print: (text) => console.log(text),
        printErr: (text) => console.error(text),
      }).then((module) => {
        module._kestrin_umask(0o022);
        if (pending === loading) loaded = module;
        return module;
      }),
    );
    pending = loading;
    loading.catch(() => {
      if (pending === loading) pending = null;
    });
  }
  return pending;
}

// The error a run rejects with when the program itself failed.
export class KestrinError extends Error {
  constructor(message, options) {
    super(message, options);
    this.name = 'KestrinError';
  }
}

// Drops `module` after a trap, so that the next loadKestrin makes a new one,
// and says what happened.
function trapped(module, error) {
  if (loaded === module) {
    pending = null;
    loaded = null;
  }
  const reason =
    error instanceof Error ? error.message : typeof error === 'number' ? 'an uncaught exception' : String(error);
  return new KestrinError(`kestrin: the WebAssembly program failed (${reason}); the next run starts afresh`, {
    cause: error,
  });
}

const encoder = new TextEncoder();
const decoder = new TextDecoder();

// Runs `argv` (argv[0] is the program name). With `capture`, the console text
// and standard error are returned instead of written. `facesAbsent` names the
// Liberation files the run looked for and lacked. Throws a KestrinError when
// the program traps.
export function runKestrin(module, argv, capture) {
  let status, console = '', diagnostics = '', facesAbsent = [];
  try {
    const pointers = argv.map((arg) => {
      const bytes = encoder.encode(arg);
      const pointer = module._malloc(bytes.length + 1);
      module.HEAPU8.set(bytes, pointer);
      module.HEAPU8[pointer + bytes.length] = 0;
      return pointer;
    });
    const array = module._malloc(4 * (argv.length + 1));
    pointers.forEach((pointer, i) => module.HEAPU32.set([pointer], array / 4 + i));
    module.HEAPU32[array / 4 + argv.length] = 0;
    status = module._kestrin_run(argv.length, array, capture ? 1 : 0);
    const text = (data, size) => decoder.decode(module.HEAPU8.subarray(data, data + size));
    if (capture) {
      console = text(module._kestrin_console(), module._kestrin_console_size());
      diagnostics = text(module._kestrin_diagnostics(), module._kestrin_diagnostics_size());
    }
    facesAbsent = text(module._kestrin_faces_absent(), module._kestrin_faces_absent_size()).split('\n');
    facesAbsent.pop();
    pointers.forEach((pointer) => module._free(pointer));
    module._free(array);
  } catch (error) {
    throw trapped(module, error);
  }
  return { status, console, diagnostics, facesAbsent };
}
