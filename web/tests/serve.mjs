// A static server for the built playground on 127.0.0.1 (a free port):
//   node web/tests/serve.mjs DIR [PORT]   or   import { serve } from './serve.mjs'
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const types = {
  '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript', '.css': 'text/css',
  '.json': 'application/json', '.wasm': 'application/wasm', '.txt': 'text/plain; charset=windows-1252',
  '.jpg': 'image/jpeg', '.gif': 'image/gif', '.pfb': 'application/octet-stream',
  '.ttf': 'font/ttf',
};

export function serve(dir, port = 0) {
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    let file = path.join(dir, path.normalize(name));
    if (!file.startsWith(dir)) file = dir;
    if (fs.existsSync(file) && fs.statSync(file).isDirectory()) file = path.join(file, 'index.html');
    fs.readFile(file, (error, data) => {
      if (error) {
        response.writeHead(404).end();
        return;
      }
      response.writeHead(200, { 'content-type': types[path.extname(file)] ?? 'application/octet-stream' });
      response.end(data);
    });
  });
  return new Promise((resolve) => server.listen(port, '127.0.0.1', () => resolve(server)));
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const server = await serve(path.resolve(process.argv[2] ?? 'build-wasm/playground'), Number(process.argv[3] ?? 8080));
  console.log(`playground on http://127.0.0.1:${server.address().port}/`);
}
