// The benchmark's text document with pdfkit: Courier 12 on A4, a page at
// each form feed, one text call per line, streamed to the file.
//   node pdfkit.mjs input.txt output.pdf
import fs from 'node:fs';
import PDFDocument from 'pdfkit';

const [input, output] = process.argv.slice(2);
const doc = new PDFDocument({ size: 'A4', margin: 0, autoFirstPage: false, compress: false });
const done = new Promise((resolve) => doc.pipe(fs.createWriteStream(output)).on('finish', resolve));
for (const page of fs.readFileSync(input, 'latin1').split('\f')) {
  doc.addPage().font('Courier').fontSize(12);
  let y = 31;
  for (const line of page.split('\n')) {
    doc.text(line, 25, y, { lineBreak: false });
    y += 12;
  }
}
doc.end();
await done;
