// The playground: an editor with kestrin's highlighting, a live preview of
// every page, stops and warnings at their lines, the files a document names
// (pictures, sounds, fonts) added by dropping or picking them, the fonts it
// offers, the examples, and the PDF to download.
import { EditorView, basicSetup } from 'codemirror';
import { HighlightStyle, syntaxHighlighting } from '@codemirror/language';
import { setDiagnostics, lintGutter, forEachDiagnostic } from '@codemirror/lint';
import { tags } from '@lezer/highlight';
import * as pdfjs from 'pdfjs-dist';
import { compile, init } from 'kestrin';
import grammar from '../../editors/textmate/kestrin.tmLanguage.json';
import { languageFromGrammar } from './grammar.js';

const base = new URL('.', location.href);
pdfjs.GlobalWorkerOptions.workerSrc = new URL('pdf.worker.mjs', base).href;
const worker = new pdfjs.PDFWorker(); // one worker for every preview

const $ = (id) => document.getElementById(id);
const files = new Map(); // name -> bytes
const liberation = new Map(); // Liberation file name -> bytes, as runs came to need them
let lastPdf = new Uint8Array(0);
let running = false;
let dirty = false;
let changedAt = 0;
const timings = []; // keystroke to preview, in milliseconds
const phases = []; // [compile, render] milliseconds of each preview

const highlight = HighlightStyle.define([
  { tag: tags.invalid, color: '#c00', textDecoration: 'underline wavy #c00' },
  { tag: tags.keyword, color: '#7a3e9d', fontWeight: 'bold' },
  { tag: tags.number, color: '#1a7f37' },
  { tag: tags.escape, color: '#b35900' },
  { tag: tags.comment, color: '#8a8a8a', fontStyle: 'italic' },
  { tag: tags.string, color: '#0b5cad' },
  { tag: tags.function(tags.variableName), color: '#0a6f80' },
  { tag: tags.processingInstruction, color: '#9a2a2a' },
  { tag: tags.bracket, color: '#555', fontWeight: 'bold' },
  { tag: tags.meta, color: '#444' },
]);

const editor = new EditorView({
  parent: $('editor'),
  extensions: [
    basicSetup,
    languageFromGrammar(grammar),
    syntaxHighlighting(highlight),
    lintGutter(),
    EditorView.updateListener.of((update) => {
      if (update.docChanged) schedule();
    }),
  ],
});

// The fonts the playground offers, fetched when chosen or when a document
// names one: under their file names, and where Debian installs them, so that
// documents written for a machine (the Arabic example) find them too.
const offeredFonts = ['DejaVuSans.ttf', 'DejaVuSansMono.ttf'];
const dejavuFolder = '/usr/share/fonts/truetype/dejavu';
const fetched = new Map(); // font file name -> its bytes, or null when it could not be had

function fetchFont(name) {
  if (!fetched.has(name)) {
    const loading = fetch(new URL(`fonts/${name}`, base))
      .then(async (response) => (response.ok ? new Uint8Array(await response.arrayBuffer()) : null))
      .catch(() => null);
    fetched.set(name, loading);
  }
  return fetched.get(name);
}

async function loadOfferedFont(name) {
  const bytes = await fetchFont(name);
  if (!bytes || files.has(name)) return;
  files.set(name, bytes);
  files.set(`${dejavuFolder}/${name}`, bytes);
  showFiles();
}

// Compiles the editor's text; a run that needed Liberation faces the page has
// not loaded yet fetches them and runs again, so only documents that draw
// such characters load them.
async function compileDocument() {
  const text = editor.state.doc.toString();
  for (const name of offeredFonts) if (!files.has(name) && text.includes(name)) await loadOfferedFont(name);
  const options = { files, liberationFonts: liberation, compress: $('compress').checked, name: 'document.txt' };
  const result = await compile(text, options);
  const wanted = result.missingLiberationFonts.filter((name) => !liberation.has(name));
  const loaded = await Promise.all(wanted.map(fetchFont));
  wanted.forEach((name, i) => loaded[i] && liberation.set(name, loaded[i]));
  return loaded.some(Boolean) ? compile(text, options) : result;
}

function schedule() {
  if (!changedAt) changedAt = performance.now();
  if (running) dirty = true;
  else queueMicrotask(refresh);
}

// A whole line, or from a column (in characters) to the end of the word
// there: the place the native program gives a stop.
function placeRange(doc, number, column = 0) {
  const line = doc.line(Math.min(Math.max(number, 1), doc.lines));
  if (!column) return { from: line.from, to: line.to };
  const before = [...line.text].slice(0, column - 1).join('').length;
  const word = /^[^\s<>[\]{}]*/.exec(line.text.slice(before))[0].length;
  const from = line.from + Math.min(before, line.length);
  return { from, to: Math.min(line.to, from + Math.max(word, 1)) };
}

function showDiagnostics(result) {
  const doc = editor.state.doc;
  const marks = result.warnings.map((w) => ({ ...placeRange(doc, w.line), severity: 'warning', message: w.message }));
  if (result.stop) {
    const { line, column, message, code } = result.stop;
    marks.push({ ...placeRange(doc, line, column), severity: 'error', message: `${message} (${code})` });
  }
  editor.dispatch(setDiagnostics(editor.state, marks));
  const status = $('status');
  status.textContent = result.console.trim().split('\n').pop() || '';
  status.className = result.stop ? 'error' : result.warnings.length ? 'warning' : 'ok';
  $('console').textContent = result.console + result.diagnostics;
}

let shownPdf = null; // the PDF the preview shows, drawn again when the window changes

async function render(pdf) {
  shownPdf = pdf;
  const task = pdfjs.getDocument({
    data: pdf.slice(),
    worker,
    standardFontDataUrl: new URL('standard_fonts/', base).href,
    wasmUrl: new URL('pdfjs-wasm/', base).href,
    isEvalSupported: false,
    useSystemFonts: false,
    disableFontFace: true,
  });
  const pdfDocument = await task.promise;
  const opened = performance.now();
  const width = $('preview').clientWidth - 32;
  const canvases = [];
  for (let number = 1; number <= pdfDocument.numPages; ++number) {
    const page = await pdfDocument.getPage(number);
    const natural = page.getViewport({ scale: 1 });
    const viewport = page.getViewport({ scale: (Math.max(width, 200) / natural.width) * devicePixelRatio });
    const canvas = document.createElement('canvas');
    canvas.width = Math.round(viewport.width);
    canvas.height = Math.round(viewport.height);
    canvas.style.width = `${viewport.width / devicePixelRatio}px`;
    canvas.dataset.page = String(number);
    await page.render({ canvas, canvasContext: canvas.getContext('2d'), viewport }).promise;
    canvases.push(canvas);
  }
  await task.destroy();
  $('pages').replaceChildren(...canvases);
  return opened;
}

async function refresh() {
  if (running) {
    dirty = true;
    return;
  }
  running = true;
  document.body.dataset.state = 'busy';
  try {
    do {
      dirty = false;
      const started = performance.now();
      const result = await compileDocument();
      showDiagnostics(result);
      // After a stop the last good PDF stays in view, marked as out of date;
      // drawn now if typing went on while it was made.
      const stale = result.pdf.length === 0;
      if (!stale) lastPdf = result.pdf;
      $('download').disabled = stale;
      const compiled = performance.now();
      if (lastPdf.length && lastPdf !== shownPdf && !dirty) {
        try {
          const opened = await render(lastPdf);
          if (!stale) phases.push([compiled - started, opened - compiled, performance.now() - opened]);
        } catch (error) {
          if (!result.stop) $('status').textContent = `preview: ${error.message}`;
        }
      }
      $('preview').dataset.stale = String(stale && shownPdf !== null);
    } while (dirty);
    if (changedAt) timings.push(performance.now() - changedAt);
    changedAt = 0;
    document.body.dataset.state = 'ready';
  } finally {
    running = false;
  }
}

function setDocument(text) {
  changedAt = performance.now();
  editor.dispatch({ changes: { from: 0, to: editor.state.doc.length, insert: text } });
}

async function addFiles(list) {
  for (const file of list) files.set(file.name, new Uint8Array(await file.arrayBuffer()));
  showFiles();
  schedule();
}

function showFiles() {
  $('files').replaceChildren(
    ...[...files.keys()].filter((name) => !name.startsWith('/')).sort().map((name) => {
      const item = document.createElement('li');
      item.textContent = name;
      return item;
    }),
  );
}

async function loadExamples() {
  const manifest = await (await fetch(new URL('examples/examples.json', base))).json();
  for (const name of manifest.files) {
    const bytes = new Uint8Array(await (await fetch(new URL(`examples/${name}`, base))).arrayBuffer());
    files.set(name, bytes);
  }
  showFiles();
  const menu = $('examples');
  for (const name of manifest.documents) menu.append(new Option(name, name));
  menu.addEventListener('change', async () => {
    setDocument(await (await fetch(new URL(`examples/${menu.value}`, base))).text());
  });
  return manifest.documents;
}

$('download').addEventListener('click', () => {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([lastPdf], { type: 'application/pdf' }));
  link.download = 'document.pdf';
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
});
$('picker').addEventListener('change', (event) => addFiles(event.target.files));
// A chosen font is registered at the document's start, under the first free
// number, and set from the cursor on.
$('fonts').addEventListener('change', async (event) => {
  const name = event.target.value;
  event.target.value = '';
  if (!name) return;
  await loadOfferedFont(name);
  const text = editor.state.doc.toString();
  const used = new Set([...text.matchAll(/<font\s+(\d+)/g)].map((match) => Number(match[1])));
  let number = 15;
  while (used.has(number) && number < 99) ++number;
  const cursor = editor.state.selection.main.head;
  const registration = `<font ${number} ${name}>`;
  const setting = `[/F${number} 12 Tf]`;
  changedAt = performance.now();
  editor.dispatch({
    changes: [{ from: 0, insert: registration }, { from: cursor, insert: setting }],
    selection: { anchor: cursor + registration.length + setting.length },
  });
  editor.focus();
});
$('compress').addEventListener('change', schedule);
window.addEventListener('dragover', (event) => {
  event.preventDefault();
  document.body.classList.add('dropping');
});
window.addEventListener('dragleave', () => document.body.classList.remove('dropping'));
window.addEventListener('drop', (event) => {
  event.preventDefault();
  document.body.classList.remove('dropping');
  addFiles(event.dataTransfer.files);
});

// For the browser tests and the curious: timings and the last PDF.
window.kestrinPlayground = {
  timings,
  phases,
  lastPdf: () => lastPdf,
  liberationFonts: () => [...liberation.keys()],
  text: () => editor.state.doc.toString(),
  diagnostics: () => {
    const marks = [];
    forEachDiagnostic(editor.state, (d, from, to) => {
      const line = editor.state.doc.lineAt(from);
      marks.push({ line: line.number, column: from - line.from + 1, text: editor.state.sliceDoc(from, to), severity: d.severity, message: d.message });
    });
    return marks;
  },
};

// The preview follows the window's width.
let resizing = 0;
window.addEventListener('resize', () => {
  clearTimeout(resizing);
  resizing = setTimeout(() => {
    if (shownPdf && !running) render(shownPdf).catch(() => {});
  }, 150);
});

await init({ wasm: new URL('kestrin.wasm', base) });
const documents = await loadExamples();
const start = documents.includes('hello.txt') ? 'hello.txt' : documents[0];
$('examples').value = start;
setDocument(await (await fetch(new URL(`examples/${start}`, base))).text());
