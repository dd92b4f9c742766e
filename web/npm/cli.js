#!/usr/bin/env node
// `npx kestrin [options] infile outfile`: the native program's command line,
// files, console text and exit status, run by the WebAssembly build.
import { loadKestrin, runKestrin } from './core.js';
import { mountHost } from './host.js';

const module = await loadKestrin();
mountHost(module);
try {
  process.exitCode = runKestrin(module, ['kestrin', ...process.argv.slice(2)], false).status;
} catch (error) {
  console.error(error.message);  // the program itself failed
  process.exitCode = 1;
}
