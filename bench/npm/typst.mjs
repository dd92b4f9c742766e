// The benchmark's text documents with Typst's compiler (typst.ts's Node
// binding, a prebuilt Typst inside the npm package): the text as it stands,
// line for line, a page at each form feed, in the font given at 10 points.
//   node typst.mjs input.txt output.pdf "DejaVu Sans Mono"
import fs from 'node:fs';
import path from 'node:path';
import { NodeCompiler } from '@myriaddreamin/typst-ts-node-compiler';

const [input, output, family = 'DejaVu Sans Mono'] = process.argv.slice(2);
const compiler = NodeCompiler.create({
  workspace: path.dirname(path.resolve(input)),
  fontArgs: [{ fontPaths: ['/usr/share/fonts/truetype', '/usr/share/fonts/opentype'] }],
});
const main = `#set page(paper: "a4", margin: (left: 25pt, top: 31pt, rest: 25pt))
#set text(font: ("${family}", "Lohit Devanagari", "IPAGothic"), size: 10pt)
#set par(leading: 2pt)
#for (i, page) in read("${path.basename(input)}").split("\\u{c}").enumerate() {
  if i > 0 { pagebreak() }
  for line in page.split("\\n") { [#line \\ ] }
}`;
const pdf = compiler.pdf({ mainFileContent: main });
fs.writeFileSync(output, pdf);
