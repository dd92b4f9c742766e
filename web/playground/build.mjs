// Builds the playground into one folder of static files:
//   node web/playground/build.mjs OUT_DIR
// The page, its bundle, pdf.js's worker, fonts and decoders, kestrin.wasm,
// the fonts it offers and the examples with the files they name.
import * as esbuild from 'esbuild';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '../..');
const out = path.resolve(process.argv[2] ?? path.join(root, 'build-wasm/playground'));
const pdfjs = path.join(here, '../node_modules/pdfjs-dist');
const npm = path.join(root, 'web/npm');

fs.rmSync(out, { recursive: true, force: true });
fs.mkdirSync(path.join(out, 'examples'), { recursive: true });
await esbuild.build({
  entryPoints: [path.join(here, 'main.js')],
  bundle: true,
  format: 'esm',
  target: 'es2022',
  minify: true,
  outfile: path.join(out, 'playground.js'),
  alias: { kestrin: path.join(npm, 'index.js') },
  external: ['node:*'],
  logLevel: 'warning',
});
fs.copyFileSync(path.join(here, 'index.html'), path.join(out, 'index.html'));
fs.copyFileSync(path.join(here, 'playground.css'), path.join(out, 'playground.css'));
fs.copyFileSync(path.join(npm, 'dist/kestrin.wasm'), path.join(out, 'kestrin.wasm'));
fs.copyFileSync(path.join(pdfjs, 'build/pdf.worker.min.mjs'), path.join(out, 'pdf.worker.mjs'));
fs.cpSync(path.join(pdfjs, 'standard_fonts'), path.join(out, 'standard_fonts'), { recursive: true });
// pdf.js draws the standard fonts with substitutes of its own and the
// standard fonts' widths. Its Times substitutes (ChromSerif) have a Euro
// sign 722 units wide (667 in bold italic) where Times has 500, so the sign
// runs into the next character; poppler and mupdf draw with URW's Nimbus
// Roman, whose Euro fits. The playground gives pdf.js Nimbus Roman for the
// four Times fonts, from Debian's fonts-urw-base35, under the names pdf.js
// asks for (it reads the font's kind from its bytes).
const urw = '/usr/share/fonts/opentype/urw-base35';
if (!fs.existsSync(urw)) throw new Error('the Nimbus fonts are missing: apt-get install fonts-urw-base35');
const nimbus = {
  'FoxitSerif.pfb': 'NimbusRoman-Regular.otf',
  'FoxitSerifBold.pfb': 'NimbusRoman-Bold.otf',
  'FoxitSerifItalic.pfb': 'NimbusRoman-Italic.otf',
  'FoxitSerifBoldItalic.pfb': 'NimbusRoman-BoldItalic.otf',
};
for (const [name, font] of Object.entries(nimbus)) fs.copyFileSync(path.join(urw, font), path.join(out, 'standard_fonts', name));
fs.copyFileSync('/usr/share/doc/fonts-urw-base35/copyright', path.join(out, 'standard_fonts/LICENSE_URW'));
// The fonts the playground offers, DejaVu Sans and DejaVu Sans Mono, and the
// Liberation faces that draw what the standard fonts lack under
// <encoding utf8>, from Debian's packages; the page fetches each only when a
// document needs it.
const fontFolders = {
  'fonts-dejavu-core': ['/usr/share/fonts/truetype/dejavu', ['DejaVuSans.ttf', 'DejaVuSansMono.ttf']],
  'fonts-liberation2': ['/usr/share/fonts/truetype/liberation2', null],
};
fs.mkdirSync(path.join(out, 'fonts'));
for (const [debian, [folder, names]] of Object.entries(fontFolders)) {
  if (!fs.existsSync(folder)) throw new Error(`the fonts of ${debian} are missing: apt-get install ${debian}`);
  for (const name of names ?? fs.readdirSync(folder).filter((name) => name.endsWith('.ttf')))
    fs.copyFileSync(path.join(folder, name), path.join(out, 'fonts', name));
  fs.copyFileSync(`/usr/share/doc/${debian}/copyright`, path.join(out, 'fonts', `LICENSE-${debian}`));
}
// Of pdf.js's decoders only the colour management one: kestrin writes no
// JBIG2 or JPEG 2000 pictures and no scripts.
fs.cpSync(path.join(pdfjs, 'wasm'), path.join(out, 'pdfjs-wasm'), {
  recursive: true,
  filter: (from) => !/(jbig2|openjpeg|quickjs)[^/]*\.(wasm|js)$/.test(from),
});

const examples = path.join(root, 'examples');
const documents = [];
const files = [];
for (const name of fs.readdirSync(examples).sort()) {
  const from = path.join(examples, name);
  if (!fs.statSync(from).isFile() || name.endsWith('.sh')) continue;
  fs.copyFileSync(from, path.join(out, 'examples', name));
  (name.endsWith('.txt') ? documents : files).push(name);
}
fs.writeFileSync(path.join(out, 'examples/examples.json'), JSON.stringify({ documents, files }));
console.log(`playground in ${path.relative(process.cwd(), out) || '.'}`);
