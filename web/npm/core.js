// The WebAssembly program and one run of it: the module is instantiated
// once, and each run passes a command line exactly as the native program
// takes it. The .wasm file is read from disk in Node and fetched elsewhere.
import createKestrinModule from './dist/kestrin-core.js';

let pending = null;

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
    pending = wasmBytes(wasm).then((bytes) =>
      createKestrinModule({
        wasmBinary: bytes,
        print: (text) => console.log(text),
        printErr: (text) => console.error(text),
      }).then((module) => {
        module._kestrin_umask(0o022);
        return module;
      }),
    );
    pending.catch(() => {
      pending = null;
    });
  }
  return pending;
}

const encoder = new TextEncoder();
const decoder = new TextDecoder();

// Runs `argv` (argv[0] is the program name). With `capture`, the console text
// and standard error are returned instead of written.
export function runKestrin(module, argv, capture) {
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
  try {
    const status = module._kestrin_run(argv.length, array, capture ? 1 : 0);
    const text = (data, size) => decoder.decode(module.HEAPU8.subarray(data, data + size));
    return {
      status,
      console: capture ? text(module._kestrin_console(), module._kestrin_console_size()) : '',
      diagnostics: capture
        ? text(module._kestrin_diagnostics(), module._kestrin_diagnostics_size())
        : '',
    };
  } finally {
    pointers.forEach((pointer) => module._free(pointer));
    module._free(array);
  }
}
