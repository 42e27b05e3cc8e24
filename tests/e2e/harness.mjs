// Starts the real program from a temporary copy of its folder and drives its
// page in Debian's Chromium (headless, fresh profile, nothing downloaded).

import { spawn, spawnSync } from 'node:child_process';
import { cpSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';

const require = createRequire(new URL('../../web/package.json', import.meta.url));
const { chromium } = require('playwright-core');

export const ROOT = new URL('../..', import.meta.url).pathname;
export const APP = process.env.TAVRIN_APP || join(ROOT, 'build/linux/app');
const EXE_NAME = process.env.TAVRIN_EXE ? process.env.TAVRIN_EXE.split('/').pop() : 'tavrin';
export const CHROMIUM = process.env.TAVRIN_CHROMIUM || '/usr/bin/chromium';
// Screenshots go here for a person to look at; they are never committed.
export const SHOTS = process.env.TAVRIN_E2E_SHOTS || join(tmpdir(), 'tavrin-e2e-shots');
mkdirSync(SHOTS, { recursive: true });

// A fresh program folder; bank/state are objects or texts written into data/.
export function makeFolder({ bank, state } = {}) {
  const folder = mkdtempSync(join(tmpdir(), 'tavrin-e2e-'));
  cpSync(APP, folder, { recursive: true });
  rmSync(join(folder, 'data', 'session.txt'), { force: true });
  if (bank !== undefined) writeFileSync(join(folder, 'data', 'bank.json'), typeof bank === 'string' ? bank : JSON.stringify(bank));
  if (state !== undefined) writeFileSync(join(folder, 'data', 'state.json'), typeof state === 'string' ? state : JSON.stringify(state));
  return folder;
}

export function bundledBank() {
  return JSON.parse(readFileSync(join(APP, 'data', 'bank.json'), 'utf8'));
}

export function runDuty(folder, ...args) {
  return spawnSync(join(folder, EXE_NAME), args, { cwd: folder, encoding: 'utf8', timeout: 30000 });
}

export async function startProgram(folder, { env } = {}) {
  const proc = spawn(join(folder, EXE_NAME), ['--no-browser'], {
    cwd: folder, stdio: ['ignore', 'ignore', 'pipe'], env: env ? { ...process.env, ...env } : process.env,
  });
  let stderr = '';
  proc.stderr.on('data', (d) => { stderr += d; });
  const exited = new Promise((resolve) => proc.on('exit', (code) => resolve(code)));
  const session = join(folder, 'data', 'session.txt');
  const end = Date.now() + 20000;
  while (Date.now() < end) {
    if (proc.exitCode !== null) throw new Error(`program ended with ${proc.exitCode}: ${stderr}`);
    const url = existsSync(session) ? readFileSync(session, 'utf8') : '';
    if (url.startsWith('http://') && url.includes('#token=')) {
      const host = url.slice(7).split('/')[0];
      const token = url.split('#token=')[1];
      const app = {
        folder, proc, url, host, token, exited,
        async api(path, { method = 'GET', body } = {}) {
          const r = await fetch(`http://${host}${path}`, {
            method, body: body === undefined ? undefined : typeof body === 'string' ? body : JSON.stringify(body),
            headers: { Authorization: `Bearer ${token}` },
          });
          return { status: r.status, data: await r.json().catch(() => null) };
        },
        readState() {
          const file = join(folder, 'data', 'state.json');
          return existsSync(file) ? JSON.parse(readFileSync(file, 'utf8')) : null;
        },
        async stop() {
          if (proc.exitCode === null) {
            await fetch(`http://${host}/api/shutdown`, { method: 'POST', headers: { Authorization: `Bearer ${token}` } }).catch(() => {});
            const code = await Promise.race([exited, sleep(15000).then(() => 'timeout')]);
            if (code === 'timeout') proc.kill('SIGKILL');
          }
          rmSync(folder, { recursive: true, force: true });
        },
      };
      return app;
    }
    await sleep(20);
  }
  proc.kill('SIGKILL');
  throw new Error('no session.txt within 20 s');
}

// The judge answers an unknown id with its own message; before it exists the
// route is simply not found.
export async function judgeReady(app) {
  const { data } = await app.api('/api/judge', { method: 'POST', body: { id: '__no_such_exercise__', code: '' } });
  return !!data && data.error !== '接口不存在或文件不可读取。';
}

export async function launchBrowser() {
  const profile = mkdtempSync(join(tmpdir(), 'tavrin-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1366, height: 768 },
    acceptDownloads: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  return {
    context,
    async close() { await context.close(); rmSync(profile, { recursive: true, force: true }); },
  };
}

// Opens the page and records every console error, page error and CSP violation.
export async function openPage(browser, url, { viewport, initScript } = {}) {
  const page = await browser.context.newPage();
  if (viewport) await page.setViewportSize(viewport);
  const problems = [];
  await page.addInitScript(() => {
    document.addEventListener('securitypolicyviolation', (e) => {
      console.error(`CSP violation: ${e.violatedDirective} ${e.blockedURI} ${e.sample}`);
    });
  });
  if (initScript) await page.addInitScript(initScript);
  page.on('console', (m) => { if (m.type() === 'error') problems.push(m.text()); });
  page.on('pageerror', (e) => problems.push('page error: ' + e.message));
  page.on('requestfailed', (r) => problems.push(`request failed: ${r.url()} ${r.failure() && r.failure().errorText}`));
  await page.goto(url);
  await page.waitForSelector('body.ready', { timeout: 15000 });
  return { page, problems };
}

// Replaces the editor's text the way a paste would (no auto-closed brackets).
export async function setCode(page, code) {
  await page.click('.cm-content');
  await page.keyboard.press('Control+a');
  await page.keyboard.insertText(code);
}

export async function editorText(page) {
  return page.evaluate(() => [...document.querySelectorAll('.cm-line')].map((l) => l.textContent).join('\n'));
}

export async function waitFor(fn, ms = 10000, what = 'condition') {
  const end = Date.now() + ms;
  for (;;) {
    const value = await fn();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await sleep(50);
  }
}

// The same screen at the two common sizes, for a person to look at.
export async function screenshots(page, name) {
  const before = page.viewportSize();
  for (const viewport of [{ width: 1366, height: 768 }, { width: 1920, height: 1080 }]) {
    await page.setViewportSize(viewport);
    await page.screenshot({ path: join(SHOTS, `${name}-${viewport.width}x${viewport.height}.png`) });
  }
  if (before) await page.setViewportSize(before);
}
