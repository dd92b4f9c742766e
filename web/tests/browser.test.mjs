// The built playground in headless Chromium (Debian's, no download): it
// loads cleanly, follows typing, marks a stop at its line, uses a dropped
// picture, draws fonts and downloads the native program's bytes.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import zlib from 'node:zlib';
import { chromium } from 'playwright-core';
import { serve } from './serve.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const site = path.join(root, process.env.WASM_BUILD ?? 'build-wasm', 'playground');
const native = process.env.KESTRIN_NATIVE ?? path.join(root, 'build/kestrin');
const executablePath = process.env.CHROMIUM ?? '/usr/bin/chromium';
let server, context, page, url;
const errors = [];

before(async () => {
  assert.ok(fs.existsSync(path.join(site, 'index.html')), 'make web first');
  assert.ok(fs.existsSync(executablePath), `no Chromium at ${executablePath}`);
  server = await serve(site);
  url = `http://127.0.0.1:${server.address().port}/`;
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrin-chromium-'));
  context = await chromium.launchPersistentContext(profile, {
    executablePath,
    headless: true,
    acceptDownloads: true,
    viewport: { width: 1200, height: 900 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  page = context.pages()[0] ?? (await context.newPage());
  page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
  page.on('pageerror', (error) => errors.push(String(error)));
  await page.goto(url);
  await page.waitForSelector('body[data-state=ready]');
});

after(async () => {
  await context?.close();
  server?.close();
});

// Replaces the document by typing it, and waits for the preview to follow.
async function type(text) {
  const before = await page.evaluate(() => window.kestrinPlayground.timings.length);
  await page.click('.cm-content');
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Delete');
  await page.keyboard.type(text, { delay: 5 });
  await page.waitForFunction((n) => window.kestrinPlayground.timings.length > n, before);
  await settle();
}

// Waits until the preview has caught up with the editor.
async function settle() {
  await page.waitForTimeout(100);
  await page.waitForFunction(() => document.body.dataset.state === 'ready');
}

// Chooses an example and waits for its preview.
async function choose(name) {
  await page.selectOption('#examples', name);
  const text = fs.readFileSync(path.join(root, 'examples', name), 'latin1');
  await page.waitForFunction((expected) => window.kestrinPlayground.text() === expected, text);
  await settle();
}

// The rightmost inked pixel of the first page's top `points`, in points.
function inkRightEdge(points) {
  return page.evaluate((top) => {
    const canvas = document.querySelector('#pages canvas');
    const scale = canvas.width / 595;
    const rows = Math.round(top * scale);
    const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, rows);
    let right = -1;
    for (let y = 0; y < rows; ++y)
      for (let x = canvas.width - 1; x > right; --x) {
        const i = (y * canvas.width + x) * 4;
        if (data[i] + data[i + 1] + data[i + 2] < 600) right = x;
      }
    return right / scale;
  }, points);
}

// Share of the first page's pixels that are not white.
function inkOfFirstPage() {
  return page.evaluate(() => {
    const canvas = document.querySelector('#pages canvas');
    const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
    let ink = 0;
    for (let i = 0; i < data.length; i += 4) if (data[i] + data[i + 1] + data[i + 2] < 720) ++ink;
    return ink / (data.length / 4);
  });
}

test('the page loads without console errors and shows the first example', async () => {
  assert.deepEqual(errors, []);
  assert.ok((await page.locator('#pages canvas').count()) >= 1);
  assert.ok((await page.locator('#examples option').count()) >= 5);
  assert.ok((await page.locator('.cm-content span').count()) > 0, 'highlighted tokens');
});

test('typing a document shows its first page', async () => {
  await type('');
  assert.equal(await inkOfFirstPage(), 0);
  await type('[/F6 40 Tf]Typed in the browser');
  assert.ok((await inkOfFirstPage()) > 0.001);
  assert.equal(await page.textContent('#status'), 'no errors');
  assert.deepEqual(errors, []);
});

test('an unknown command shows the stop message at its line', async () => {
  await type('first line\nsecond <bogus 1> line\n');
  const marks = await page.evaluate(() => window.kestrinPlayground.diagnostics());
  assert.deepEqual(marks, [{ line: 2, column: 9, text: 'bogus', severity: 'error', message: 'unknown ctrl command (44)' }]);
  assert.equal(await page.textContent('#status'), 'error in line 2 (44)  unknown ctrl command');
  const marked = await page.locator('.cm-line', { has: page.locator('.cm-lintRange-error') }).textContent();
  assert.equal(marked, 'second <bogus 1> line');
});

test('a misspelt command looks different from a known one', async () => {
  await type('<rotat 90><rotate 90>x');
  const colours = await page.evaluate(() =>
    Object.fromEntries([...document.querySelectorAll('.cm-content span')].map((span) => [span.textContent, getComputedStyle(span).color])),
  );
  assert.ok(colours.rotat && colours.rotate, JSON.stringify(colours));
  assert.notEqual(colours.rotat, colours.rotate);
});

// pdf.js's own Times has a Euro sign wider than Times's; the playground gives
// it the Nimbus Roman that poppler and mupdf draw with.
test('the euro sign keeps to its width', async () => {
  await type('<encoding utf8>[/F10 40 Tf]\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac');
  assert.equal(await page.textContent('#status'), 'no errors');
  const right = await inkRightEdge(80);
  assert.ok(right > 215 && right < 226, `the ten signs end at ${right} points, their widths at 225`);
});

test('after a stop the last good PDF stays in view, marked out of date', async () => {
  await type('[/F6 40 Tf]Good');
  assert.equal(await page.getAttribute('#preview', 'data-stale'), 'false');
  // Typed on at the end, so that every state between is the good page or a stop.
  const before = await page.evaluate(() => window.kestrinPlayground.timings.length);
  await page.keyboard.press('Control+End');
  await page.keyboard.type(' <bogus>', { delay: 5 });
  await page.waitForFunction((n) => window.kestrinPlayground.timings.length > n, before);
  await settle();
  assert.equal(await page.getAttribute('#preview', 'data-stale'), 'true');
  assert.ok(await page.isVisible('#stale-note'));
  const ink = await inkOfFirstPage();
  assert.ok(ink > 0.001, `the last good page is still there (ink ${ink})`);
  assert.ok(await page.isDisabled('#download'));
});

test('the preview keeps inside a window 700 pixels wide', async () => {
  const narrow = await context.newPage();
  await narrow.goto(url);
  await narrow.waitForSelector('body[data-state=ready]');
  await narrow.waitForSelector('#pages canvas');
  for (const width of [700, 500]) {  // narrowed after the preview was drawn, as a user does
    await narrow.setViewportSize({ width, height: 900 });
    await narrow.waitForTimeout(600);
    const sizes = await narrow.evaluate(() => ({
      scroll: document.documentElement.scrollWidth,
      right: Math.max(...[...document.querySelectorAll('#pages canvas')].map((c) => c.getBoundingClientRect().right)),
    }));
    assert.ok(sizes.scroll <= width && sizes.right <= width, `${width}: ${JSON.stringify(sizes)}`);
  }
  await narrow.close();
});

test('opened as a file:// page it says what to do', async () => {
  const local = await context.newPage();
  await local.goto(`file://${path.join(site, 'index.html')}`);
  await local.waitForSelector('#file-note', { state: 'visible' });
  assert.match(await local.textContent('#file-note'), /make playground/);
  await local.close();
});

test('a dropped picture placed on the page appears in the preview', async () => {
  const document = '<jpg+ 1 dropped.jpg>x<pict+ 1 0 0 595 842>';
  await type(document);
  assert.match(await page.textContent('#status'), /error/);
  const bytes = fs.readFileSync(path.join(root, 'tests/data/jpeg/grey-240x180.jpg')).toString('base64');
  await page.evaluate((base64) => {
    const transfer = new DataTransfer();
    const data = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    transfer.items.add(new File([data], 'dropped.jpg', { type: 'image/jpeg' }));
    window.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, bytes);
  await page.waitForFunction(() => document.getElementById('status').textContent === 'no errors');
  await settle();
  assert.ok((await inkOfFirstPage()) > 0.5, 'the picture covers the page');
});

// A PNG of one row of palette indices, made here: `depth` bits an index,
// the palette's RGB bytes, and the alpha of its first entries (tRNS).
function palettePng(depth, indices, palette, alpha) {
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type, 'latin1'), Buffer.from(data)]);
    const frame = Buffer.alloc(12 + data.length);
    frame.writeUInt32BE(data.length, 0);
    body.copy(frame, 4);
    frame.writeUInt32BE(zlib.crc32(body), 8 + data.length);
    return frame;
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(indices.length, 0);
  header.writeUInt32BE(1, 4);
  header[8] = depth;
  header[9] = 3;
  const row = Buffer.alloc(1 + Math.ceil((indices.length * depth) / 8));
  indices.forEach((index, i) => { row[1 + Math.floor((i * depth) / 8)] |= index << (8 - depth - ((i * depth) % 8)); });
  return Buffer.concat([Buffer.from('\x89PNG\r\n\x1a\n', 'latin1'), chunk('IHDR', header), chunk('PLTE', palette),
    ...(alpha ? [chunk('tRNS', alpha)] : []), chunk('IDAT', zlib.deflateSync(row)), chunk('IEND', [])]);
}

// pdf.js draws transparent palette entries (a colour key from index 0, a soft
// mask otherwise) and indices beyond the palette (greys) as the other readers.
test('pictures with colour keys and short palettes look as in the other readers', async () => {
  const rgbw = [255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255];
  const cases = [
    ['key2.png', palettePng(2, [0, 1, 2, 3], rgbw, [255, 255, 0]), ['ff0000', '00ff00', 'ffffff', 'ffffff']],
    ['key0.png', palettePng(2, [0, 1, 2, 3], rgbw, [0]), ['ffffff', '00ff00', '0000ff', 'ffffff']],
    ['key1.png', palettePng(1, [0, 1, 0, 1], rgbw.slice(0, 6), [255, 0]), ['ff0000', 'ffffff', 'ff0000', 'ffffff']],
    ['beyond.png', palettePng(8, [0, 1, 2, 3, 200], rgbw.slice(0, 9)), ['ff0000', '00ff00', '0000ff', '030303', 'c8c8c8']],
  ];
  for (const [name, bytes, colours] of cases) {
    await type(`<image 1 ${name}>x<pict+ 1 0 0 595 842>`);
    await page.evaluate(([file, base64]) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], file, { type: 'image/png' }));
      window.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
    }, [name, bytes.toString('base64')]);
    await page.waitForFunction(() => document.getElementById('status').textContent === 'no errors');
    await settle();
    const drawn = await page.evaluate((count) => {
      const canvas = document.querySelector('#pages canvas');
      const context = canvas.getContext('2d');
      return Array.from({ length: count }, (_, i) => {
        const [r, g, b] = context.getImageData(Math.floor(((i + 0.5) * canvas.width) / count), canvas.height >> 1, 1, 1).data;
        return [r, g, b].map((c) => c.toString(16).padStart(2, '0')).join('');
      });
    }, colours.length);
    assert.deepEqual(drawn, colours, name);
  }
  assert.deepEqual(errors, []);
});

// Only a page that needs a Liberation face fetches it; a font chosen from the
// menu is registered and set at the cursor.
test('a Polish letter and a chosen font are fetched when needed and drawn', async () => {
  const liberation = () => page.evaluate(() => window.kestrinPlayground.liberationFonts());
  assert.deepEqual(await liberation(), []);
  await type('<encoding utf8>[/F5 40 Tf]Zażółć gęślą');
  assert.equal(await page.textContent('#status'), 'no errors');
  assert.deepEqual(await liberation(), ['LiberationSans-Regular.ttf']);
  assert.ok((await inkOfFirstPage()) > 0.002);
  await type('<encoding utf8>');
  const before = await page.evaluate(() => window.kestrinPlayground.timings.length);
  await page.selectOption('#fonts', 'DejaVuSans.ttf');
  await page.waitForFunction((n) => window.kestrinPlayground.timings.length > n, before);
  await page.keyboard.type('Ξεσκεπάζω ψυχοφθόρα', { delay: 5 });
  await settle();
  assert.equal(await page.evaluate(() => window.kestrinPlayground.text()),
    '<font 15 DejaVuSans.ttf><encoding utf8>[/F15 12 Tf]Ξεσκεπάζω ψυχοφθόρα');
  assert.equal(await page.textContent('#status'), 'no errors');
  assert.ok((await inkOfFirstPage()) > 0.0003);
  assert.deepEqual(errors, []);
});

test('the download is the native program\'s PDF, byte for byte', async () => {
  await choose('pictures.txt');
  assert.equal(await page.textContent('#status'), 'no errors');
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  const saved = await download.path();
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrin-download-'));
  const run = spawnSync(native, ['pictures.txt', path.join(dir, 'native.pdf')], { cwd: path.join(root, 'examples') });
  assert.equal(run.status, 0);
  assert.ok(fs.readFileSync(saved).equals(fs.readFileSync(path.join(dir, 'native.pdf'))));
});

test('the preview follows each keystroke within about 100 ms', async () => {
  await choose('letter.txt');
  await page.click('.cm-content');
  await page.keyboard.press('Control+End');
  const start = await page.evaluate(() => window.kestrinPlayground.timings.length);
  for (const key of 'Yours truly') {
    const count = await page.evaluate(() => window.kestrinPlayground.timings.length);
    await page.keyboard.type(key);
    await page.waitForFunction((n) => window.kestrinPlayground.timings.length > n, count);
  }
  const timings = (await page.evaluate(() => window.kestrinPlayground.timings)).slice(start);
  assert.equal(timings.length, 11);
  const sorted = [...timings].sort((a, b) => a - b);
  const median = sorted[Math.floor(sorted.length / 2)];
  console.log(`keystroke to preview (letter.txt): median ${median.toFixed(1)} ms, slowest ${sorted.at(-1).toFixed(1)} ms`);
  assert.ok(median < 500, `median ${median} ms`);
  assert.deepEqual(errors, []);
});

// The npm package's KestrinWorker in a browser Worker: the native program's
// bytes, and a failing picture resolves with its stop.
test('KestrinWorker compiles in a browser Worker', async () => {
  const packageServer = await serve(path.join(root, 'web/npm'));
  const worker = await context.newPage();
  try {
    await worker.goto(`http://127.0.0.1:${packageServer.address().port}/package.json`);
    const results = await worker.evaluate(async () => {
      const { KestrinWorker } = await import('/index.js');
      const kestrin = new KestrinWorker();
      const good = await kestrin.compile('Hello\nWorld\n');
      const bad = await kestrin.compile('<image 1 p.png>', { files: { 'p.png': new Uint8Array([0x89, 0x50, 0x4e, 0x47]) } });
      await kestrin.terminate();
      return { pdf: Array.from(good.pdf), console: good.console, stop: bad.stop };
    });
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrin-worker-'));
    fs.writeFileSync(path.join(dir, 'document.txt'), 'Hello\nWorld\n');
    assert.equal(spawnSync(native, ['document.txt', 'document.pdf'], { cwd: dir }).status, 0);
    assert.ok(Buffer.from(results.pdf).equals(fs.readFileSync(path.join(dir, 'document.pdf'))));
    assert.equal(results.console, '\nno errors\n');
    assert.equal(results.stop?.code, 80);
  } finally {
    await worker.close();
    packageServer.close();
  }
});
