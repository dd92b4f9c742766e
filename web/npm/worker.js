// The worker behind KestrinWorker (index.js): it compiles each document it is
// sent with compile() and posts the result back, the PDF's bytes moved, not
// copied. It runs as a Node worker thread or as a browser module Worker.
import { compile, init } from './index.js';

const isNode = typeof process === 'object' && typeof process.versions?.node === 'string';
let post;
let wasm;

async function handle({ id, source, options }) {
  try {
    const result = await compile(source, { ...options, wasm });
    post({ id, result }, [result.pdf.buffer]);
  } catch (error) {
    post({ id, error: String(error?.message ?? error) });
  }
}

if (isNode) {
  const { parentPort, workerData } = await import(/* webpackIgnore: true */ 'node:worker_threads');
  wasm = workerData?.wasm;
  post = (message, transfer) => parentPort.postMessage(message, transfer);
  parentPort.on('message', handle);
} else {
  post = (message, transfer) => self.postMessage(message, transfer);
  // The first message says where the program is; the others are documents.
  self.onmessage = (event) => {
    if (event.data.id === undefined) {
      wasm = event.data.wasm;
      init({ wasm }).catch(() => {});  // a failure shows at the first document
    } else {
      handle(event.data);
    }
  };
}
