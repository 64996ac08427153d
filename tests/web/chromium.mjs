// What the page's tests and its benchmark share: the built page served as any static host serves
// it, on a port of the loopback interface, and Debian's Chromium started headless by
// puppeteer-core.
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const puppeteer = createRequire(path.join(root, 'web/package.json'))('puppeteer-core');

// The page as any static host serves it, on a port of the loopback interface.
const types = {
  '.html': 'text/html',
  '.js': 'text/javascript',
  '.css': 'text/css',
  '.wasm': 'application/wasm',
  '.svg': 'image/svg+xml',
};
export function servePage(dir) {
  const server = createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    const file = path.join(dir, name.endsWith('/') ? name + 'index.html' : name);
    if (!file.startsWith(dir)) return response.writeHead(403).end();
    try {
      const data = readFileSync(file);
      response.writeHead(200, {
        'Content-Type': types[path.extname(file)] || 'application/octet-stream',
      });
      response.end(data);
    } catch {
      response.writeHead(404).end();
    }
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// Debian's Chromium as root on a machine without a network or a GPU.
export function launchChromium(profile) {
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    args: [
      '--no-sandbox',
      '--disable-gpu',
      '--enable-unsafe-swiftshader',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      '--window-size=1280,900',
    ],
    defaultViewport: { width: 1280, height: 900 },
  });
}

// Opens the page and waits until the built-in arm moves (a tick shown, the angles no longer all
// zero): the milliseconds since the page was asked for.
export async function openMoving(page, url) {
  const start = Date.now();
  await page.goto(url);
  await page.waitForFunction(
    () =>
      window.velmoth &&
      window.velmoth.run.shownTicks > 0 &&
      !/^ *0, /.test(document.getElementById('angles').value),
    { timeout: 30000, polling: 'raf' },
  );
  return Date.now() - start;
}

// The built page in a Chromium of its own, served from dir: the server, the browser, a page, its
// address, and the errors the page throws or writes to its console as they come. close() ends
// them all.
export async function openBrowser(dir) {
  const server = await servePage(dir);
  const url = `http://127.0.0.1:${server.address().port}/`;
  const profile = mkdtempSync(path.join(tmpdir(), 'velmoth-chromium-'));
  const browser = await launchChromium(profile);
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  page.on('console', (m) => m.type() === 'error' && errors.push(m.text()));
  const close = async () => {
    await browser.close();
    server.close();
    rmSync(profile, { recursive: true, force: true });
  };
  return { server, browser, page, url, errors, close };
}
