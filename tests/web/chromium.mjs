// What the page's tests and its benchmark share: the built page served as any static host serves
// it, on a port of the loopback interface, Debian's Chromium started headless by puppeteer-core,
// and what the tests do on the page. VELMOTH_PAGE names the built page (default build/web/page).
import { after, before } from 'node:test';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const puppeteer = createRequire(path.join(root, 'web/package.json'))('puppeteer-core');
export const pageDir = process.env.VELMOTH_PAGE || path.join(root, 'build/web/page');

// The page as any static host serves it, on a port of the loopback interface.
const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };
Object.assign(types, { '.wasm': 'application/wasm', '.svg': 'image/svg+xml' });
export function servePage(dir) {
  const server = createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    const file = path.join(dir, name.endsWith('/') ? name + 'index.html' : name);
    if (!file.startsWith(dir)) return response.writeHead(403).end();
    try {
      const data = readFileSync(file);
      const type = types[path.extname(file)] || 'application/octet-stream';
      response.writeHead(200, { 'Content-Type': type }).end(data);
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
      '--no-sandbox --disable-gpu --enable-unsafe-swiftshader --disable-quic --no-first-run',
      '--disable-background-networking --disable-component-update --disable-sync',
      '--window-size=1280,900',
    ].flatMap((a) => a.split(' ')),
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

// The built page in a Chromium of its own, opened before a test file's tests (then ready(it)
// called) and closed after them: its page, url and the errors the page throws or writes to its
// console as they come, and what the tests do there. A wait gives up only after two minutes, a
// guard against a hang, unless it says otherwise.
export function session(ready, dir = pageDir) {
  let server, browser, profile;
  const s = {
    errors: [],
    // window.velmoth.run's `what`.
    run: (what) => s.page.evaluate(`window.velmoth.run.${what}`),
    until: (fn, arg) => s.page.waitForFunction(fn, {}, arg),
    // Steps count times, by press (the Step button by default), each waiting for its tick shown.
    async step(count = 1, press = () => s.page.click('#step')) {
      for (let k = 0; k < count; ++k) {
        const shown = await s.run('shownTicks');
        await press();
        await s.until((n) => window.velmoth.run.shownTicks > n, shown);
      }
    },
    // Until the text of the element id matches re (a RegExp).
    untilText: (id, re, timeout) =>
      s.page.waitForFunction(`${re}.test(document.getElementById('${id}').textContent)`, {
        timeout,
      }),
    // Runs (if paused) until count more ticks are shown.
    async runFor(count) {
      const shown = await s.run('shownTicks');
      if (await s.run('clock.paused')) await s.page.click('#run');
      await s.until((n) => window.velmoth.run.shownTicks >= n, shown + count);
    },
    // Pauses the run (waiting for the worker to say so), resets the arm and steps it ticks times.
    async resetAndStep(ticks = 0) {
      if (!(await s.run('clock.paused'))) {
        await s.page.click('#run');
        await s.until(() => window.velmoth.run.clock.paused);
      }
      await s.page.click('#reset');
      await s.until(() => window.velmoth.run.pending.length === 0);
      await s.step(ticks);
    },
    // The recording of what during() does: its csv, replay and name.
    async record(during) {
      await s.page.click('#record');
      await s.until(() => window.velmoth.run.recording);
      await during();
      await s.page.click('#record');
      await s.until(() => !window.velmoth.run.recording);
      return s.page.evaluate(() => window.velmothLastRecording);
    },
  };
  before(async () => {
    server = await servePage(dir);
    s.url = `http://127.0.0.1:${server.address().port}/`;
    profile = mkdtempSync(path.join(tmpdir(), 'velmoth-chromium-'));
    browser = await launchChromium(profile);
    s.page = await browser.newPage();
    s.page.setDefaultTimeout(120000);
    s.page.on('pageerror', (e) => s.errors.push(String(e)));
    s.page.on('console', (m) => m.type() === 'error' && s.errors.push(m.text()));
    await ready(s);
  });
  after(async () => {
    await browser?.close();
    server?.close();
    if (profile) rmSync(profile, { recursive: true, force: true });
  });
  return s;
}
