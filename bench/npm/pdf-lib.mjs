// The benchmark's text document with pdf-lib: Courier 12 on A4, a page at
// each form feed, one drawText per line, saved at the end.
//   node pdf-lib.mjs input.txt output.pdf
import fs from 'node:fs';
import { PDFDocument, StandardFonts } from 'pdf-lib';

const [input, output] = process.argv.slice(2);
const doc = await PDFDocument.create();
const font = await doc.embedFont(StandardFonts.Courier);
for (const text of fs.readFileSync(input, 'latin1').split('\f')) {
  const page = doc.addPage([595, 842]);
  let y = 842 - 31;
  for (const line of text.split('\n')) {
    page.drawText(line, { x: 25, y, size: 12, font });
    y -= 12;
  }
}
fs.writeFileSync(output, await doc.save({ useObjectStreams: false }));
