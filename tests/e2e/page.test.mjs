// The page against the real program: list and filters, statements, drafts and
// progress, layout at the two common screen sizes, exports, and ending the program.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import {
  makeFolder, startProgram, launchBrowser, openPage, setCode, editorText, waitFor, bundledBank, SHOTS,
} from './harness.mjs';
import { smallBank } from './fixtures.mjs';
import { judgingBasis } from '../../web/src/lib/bank.js';

let app;
let browser;
const bank = bundledBank();
const questions = bank.questions;

before(async () => {
  app = await startProgram(makeFolder());
  browser = await launchBrowser();
  mkdirSync(SHOTS, { recursive: true });
});
after(async () => {
  await browser?.close();
  await app?.stop();
});

async function listedIds(page) {
  return page.$$eval('.exercise-item', (items) => items.map((i) => i.dataset.id));
}

test('the list shows every exercise by topic, and filters and search narrow it', async () => {
  const { page, problems } = await openPage(browser, app.url);
  assert.deepEqual(new Set(await listedIds(page)), new Set(questions.map((q) => q.id)));
  const heads = await page.$$eval('.topic-head', (h) => h.map((x) => x.textContent));
  for (const topic of new Set(questions.map((q) => q.topic))) {
    assert.ok(heads.some((h) => h.startsWith(`${topic} · `)), `topic ${topic} has a heading`);
  }

  const sample = questions[Math.floor(questions.length / 2)];
  const cases = [
    { topic: String(sample.topic), stars: '0', status: 'all', text: '', want: questions.filter((q) => q.topic === sample.topic) },
    { topic: String(sample.topic), stars: String(sample.stars), status: 'all', text: '',
      want: questions.filter((q) => q.topic === sample.topic && q.stars === sample.stars) },
    { topic: '0', stars: '0', status: 'all', text: sample.title, want: questions.filter((q) => q.title.includes(sample.title) || q.scenario.includes(sample.title) || q.task.includes(sample.title)) },
    { topic: '0', stars: '0', status: 'all', text: sample.id.toUpperCase(), want: questions.filter((q) => q.id.includes(sample.id)) },
    { topic: '0', stars: '0', status: 'passed', text: '', want: [] },
    { topic: '0', stars: '0', status: 'todo', text: '', want: questions },
  ];
  for (const c of cases) {
    await page.selectOption('#filter-topic', c.topic);
    await page.selectOption('#filter-stars', c.stars);
    await page.selectOption('#filter-status', c.status);
    await page.fill('#search', c.text);
    const ids = await listedIds(page);
    assert.deepEqual(new Set(ids), new Set(c.want.map((q) => q.id)), JSON.stringify({ ...c, want: undefined }));
    if (!c.want.length) assert.match(await page.textContent('#exercise-list'), /没有符合条件的题目/);
  }
  await page.fill('#search', 'zzz-没有这种题');
  assert.deepEqual(await listedIds(page), []);
  assert.deepEqual(problems, []);
  await page.close();
});

test('opening an exercise shows its statement, samples and starter code', async () => {
  const { page, problems } = await openPage(browser, app.url);
  const q = questions.find((x) => x.lang === 'cpp') || questions[questions.length - 1];
  await page.click(`.exercise-item[data-id="${q.id}"]`);
  assert.equal(await page.textContent('.st-title'), q.title);
  const statement = await page.textContent('#statement');
  for (const field of ['scenario', 'task', 'input', 'output', 'constraints']) {
    assert.ok(statement.includes(q[field].replace(/`/g, '')), `statement shows ${field}`);
  }
  const samples = await page.$$eval('.sample pre.io', (p) => p.map((x) => x.textContent));
  assert.equal(samples[1], q.samples[0].output);
  assert.equal(await editorText(page), q.starter);
  const lang = q.lang === 'cpp' ? '#lang-cpp' : '#lang-c';
  assert.equal(await page.getAttribute(lang, 'aria-checked'), 'true');
  assert.equal(await page.getAttribute(`.exercise-item[data-id="${q.id}"]`, 'aria-current'), 'true');
  assert.deepEqual(problems, []);
  await page.close();
});

test('drafts are kept per exercise and language, saved, and back after a reload', async () => {
  const { page, problems } = await openPage(browser, app.url);
  const [a, b] = questions.filter((q) => q.lang !== 'cpp');
  await page.click(`.exercise-item[data-id="${a.id}"]`);
  const cDraft = '#include <stdio.h>\nint main(void) { puts("C 草稿"); return 0; }';
  const cppDraft = '#include <cstdio>\nint main() { std::puts("C++ 草稿"); }';
  await setCode(page, cDraft);
  await page.click('#lang-cpp');
  assert.equal(await editorText(page), cDraft, 'switching takes the code along');
  await setCode(page, cppDraft);
  await page.click(`.exercise-item[data-id="${b.id}"]`);
  assert.equal(await editorText(page), b.starter);
  await waitFor(async () => (await page.textContent('#save-state')) === '已自动保存', 10000, 'the save');
  const saved = app.readState();
  assert.equal(saved.records[a.id].drafts.c, cDraft);
  assert.equal(saved.records[a.id].drafts.cpp, cppDraft);
  assert.equal(saved.records[a.id].lang, 'cpp');

  await page.reload();
  await page.waitForSelector('body.ready');
  assert.equal(await page.textContent('.st-title'), b.title, 'the last exercise opens again');
  await page.click(`.exercise-item[data-id="${a.id}"]`);
  assert.equal(await page.getAttribute('#lang-cpp', 'aria-checked'), 'true');
  assert.equal(await editorText(page), cppDraft);
  // Both languages hold a draft of their own: the learner chooses which one to see.
  await page.click('#lang-c');
  await page.waitForSelector('.dialog[open]');
  await page.click('.dialog button:has-text("打开之前的 C99 代码")');
  assert.equal(await editorText(page), cDraft);
  assert.equal((await page.getAttribute(`.exercise-item[data-id="${a.id}"]`, 'class')).includes('state-started'), true, 'an edited draft is started, not failed');
  assert.deepEqual(problems, []);
  await page.close();
});

test('a draft typed just before leaving is still saved', async () => {
  const { page } = await openPage(browser, app.url);
  const q = questions[2];
  await page.click(`.exercise-item[data-id="${q.id}"]`);
  const code = 'int main(void) { return 0; } /* 离开前 */';
  await setCode(page, code);
  await page.close({ runBeforeUnload: true });
  await waitFor(() => app.readState()?.records?.[q.id]?.drafts?.c === code, 5000, 'the draft on disk');
});

// Screens schools have: CSS size and zoom. Below about 1100 CSS px the list is a drawer.
const SCREENS = [
  { width: 800, height: 600, zoom: 1, drawer: true },
  { width: 1024, height: 768, zoom: 1, drawer: true },
  { width: 900, height: 640, zoom: 1, drawer: true, name: 'desktop-minimum' },
  { width: 1366, height: 768, zoom: 1, drawer: false },
  { width: 1366, height: 768, zoom: 1.5, drawer: true },
  { width: 1920, height: 1080, zoom: 1, drawer: false },
];

test('layout from 800×600 to 1920×1080, at 100 % and 150 %: every control in view, no console errors', async () => {
  for (const screen of SCREENS) {
    // A zoomed screen offers fewer CSS pixels: 1366×768 at 150 % is 911×512.
    const viewport = { width: Math.floor(screen.width / screen.zoom), height: Math.floor(screen.height / screen.zoom) };
    const { page, problems } = await openPage(browser, app.url, { viewport });
    if (screen.zoom !== 1) {
      const cdp = await page.context().newCDPSession(page);
      await cdp.send('Emulation.setDeviceMetricsOverride', { ...viewport, deviceScaleFactor: screen.zoom, mobile: false });
    }
    const tag = screen.name || `${screen.width}x${screen.height}${screen.zoom !== 1 ? `-${screen.zoom * 100}pct` : ''}`;
    await page.screenshot({ path: join(SHOTS, `practice-${tag}.png`) });
    const inside = async (sel) => {
      const box = await page.locator(sel).first().boundingBox();
      assert.ok(box && box.width > 0 && box.height > 0, `${sel} visible at ${tag}`);
      assert.ok(box.x >= 0 && box.y >= 0 && box.x + box.width <= viewport.width + 1 && box.y + box.height <= viewport.height + 1,
        `${sel} inside ${tag}: ${JSON.stringify(box)}`);
      return box;
    };
    for (const sel of ['#submit', '#run-samples', '#lang-c', '#lang-cpp', '#reset-code', '#export-code', '.cm-editor', '#statement',
      '#tab-statement', '#tab-result', '#tab-try', '#tab-history', '#nav-practice', '#nav-progress', '#nav-bank']) await inside(sel);
    // The menu stays on one line.
    for (const sel of ['#nav-practice', '#nav-progress', '#nav-bank', '#tab-history']) {
      const box = await page.locator(sel).boundingBox();
      assert.ok(box.height < 44, `${sel} on one line at ${tag} (${box.height}px)`);
    }
    const editorBox = await page.locator('.cm-editor').boundingBox();
    assert.ok(editorBox.width >= 300, `the editor is wide enough at ${tag} (${editorBox.width}px)`);
    assert.ok(editorBox.height > viewport.height * 0.5, `the editor gets most of the height at ${tag}`);
    if (screen.drawer) {
      assert.equal(await page.isVisible('#exercise-sidebar'), false, `the list waits in its drawer at ${tag}`);
      await page.click('#toggle-list');
      await page.waitForFunction(() => getComputedStyle(document.querySelector('#exercise-sidebar')).transform === 'none');
      await inside('#search');
      await inside('.exercise-item');
      await page.screenshot({ path: join(SHOTS, `practice-${tag}-list.png`) });
      await page.keyboard.press('Escape');
      assert.equal(await page.getAttribute('#toggle-list', 'aria-expanded'), 'false');
      await page.click('#toggle-list');
      await page.click('.cm-content', { position: { x: 200, y: 200 } });
      assert.equal(await page.getAttribute('#toggle-list', 'aria-expanded'), 'false', 'a press outside closes the drawer');
    } else {
      assert.equal(await page.isVisible('#toggle-list'), false);
      for (const sel of ['#exercise-list', '#search']) await inside(sel);
    }
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth - document.documentElement.clientWidth);
    assert.equal(overflow, 0, `no sideways scrolling at ${tag}`);
    const fonts = await page.evaluate(async () => { await document.fonts.ready; return [...document.fonts].filter((f) => f.status === 'loaded').map((f) => f.family); });
    assert.ok(fonts.length >= 2, `fonts loaded: ${fonts}`);
    await page.click('#nav-progress');
    await page.screenshot({ path: join(SHOTS, `progress-${tag}.png`) });
    if (screen.drawer) {
      await page.click('#toggle-list');
      assert.ok(await page.isVisible('#view-practice'), `the list button leads back to practice at ${tag}`);
      assert.equal(await page.getAttribute('#toggle-list', 'aria-expanded'), 'true');
      await page.keyboard.press('Escape');
    }
    await page.click('#nav-bank');
    await page.screenshot({ path: join(SHOTS, `bank-${tag}.png`) });
    assert.deepEqual(problems, []);
    await page.close();
  }
});

test('keyboard: the list is one tab stop with arrows, Enter opens and reads from the title, Ctrl+Enter submits', async () => {
  const { page, problems } = await openPage(browser, app.url);
  const focusIs = () => page.evaluate(() => {
    const a = document.activeElement;
    return a === document.body || !a ? 'body' : a.id || a.dataset.id || a.className;
  });
  const ids = await listedIds(page);
  await page.focus('#filter-status');
  await page.keyboard.press('Tab');
  const start = await focusIs();
  assert.ok(ids.includes(start), `Tab lands on an exercise (${start})`);
  await page.keyboard.press('Tab');
  assert.ok(!ids.includes(await focusIs()), 'a second Tab leaves the list');
  await page.keyboard.press('Shift+Tab');
  assert.equal(await focusIs(), start);
  const at = ids.indexOf(start);
  await page.keyboard.press('ArrowDown');
  assert.equal(await focusIs(), ids[Math.min(at + 1, ids.length - 1)]);
  await page.keyboard.press('End');
  assert.equal(await focusIs(), ids[ids.length - 1]);
  await page.keyboard.press('Home');
  assert.equal(await focusIs(), ids[0]);
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('Enter');
  assert.equal(await focusIs(), 'st-title', 'Enter opens the exercise and reads from its title');
  assert.equal(await page.textContent('.st-title'), questions.find((q) => q.id === ids[1]).title);
  assert.equal(await page.getAttribute(`.exercise-item[data-id="${ids[1]}"]`, 'aria-selected'), 'true');
  // Clicking an exercise redraws the list; focus stays in it.
  await page.click(`.exercise-item[data-id="${ids[0]}"]`);
  assert.equal(await focusIs(), ids[0]);
  await page.click('.cm-content');
  await page.keyboard.press('Control+Enter');
  await page.waitForSelector('#result .verdict-head, #result .verdict-error', { timeout: 90000 });
  assert.notEqual(await focusIs(), 'body');
  // Pressing the buttons from the keyboard: focus goes to the result, never to the page body.
  for (const button of ['#run-samples', '#submit']) {
    await page.focus(button);
    await page.keyboard.press('Enter');
    assert.notEqual(await focusIs(), 'body', button);
    await page.waitForFunction(() => !document.querySelector('#submit').disabled, null, { timeout: 90000 });
    assert.notEqual(await focusIs(), 'body', `${button} after the verdict`);
  }
  assert.deepEqual(problems, []);
  await page.close();
});

// text typed into the editor, key by key, and the text it must leave.
const TYPING = [
  ['int main(void) {\nreturn 0;\n}', 'int main(void) {\n    return 0;\n}'],
  ['{\n}', '{\n}'],
  ['{}', '{}'],
  ['{\n{\n}\n}', '{\n    {\n    }\n}'],
];

test('a } typed after the editor closed the { leaves one brace', async () => {
  const { page } = await openPage(browser, app.url);
  await page.click(`.exercise-item[data-id="${questions[0].id}"]`);
  for (const [typed, want] of TYPING) {
    await page.click('.cm-content');
    await page.keyboard.press('Control+a');
    await page.keyboard.press('Delete');
    for (const ch of typed) await page.keyboard.press(ch === '\n' ? 'Enter' : ch);
    assert.equal(await editorText(page), want, JSON.stringify(typed));
  }
  await page.close();
});

test('keyboard: focus is visible on controls', async () => {
  const { page } = await openPage(browser, app.url);
  await page.focus('#search');
  await page.keyboard.press('Tab');
  const outline = await page.evaluate(() => getComputedStyle(document.activeElement).outlineStyle);
  assert.notEqual(outline, 'none');
  await page.close();
});

test('code export: GBK bytes as a download, and the program\'s message for characters GBK lacks', async () => {
  const { page, problems } = await openPage(browser, app.url);
  const q = questions[0];
  await page.click(`.exercise-item[data-id="${q.id}"]`);
  await page.click('#lang-c');
  await setCode(page, '// 中文\nint main(void) { return 0; }\n');
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#export-code')]);
  assert.equal(download.suggestedFilename(), `${q.id}.c`);
  const bytes = readFileSync(await download.path());
  assert.deepEqual([...bytes.subarray(0, 7)], [0x2f, 0x2f, 0x20, 0xd6, 0xd0, 0xce, 0xc4], 'GBK for 中文');

  await setCode(page, 'int main(void) { return 0; } // 😀\n');
  await page.click('#export-code');
  await waitFor(async () => (await page.textContent('#toast')).includes('代码含 GBK 不支持的字符'), 5000, 'the export message');
  problems.splice(0, problems.length, ...problems.filter((p) => !p.includes('400')));
  assert.deepEqual(problems, []);
  await page.close();
});

test('a save the program refuses with 409 asks the learner to reopen the page', async () => {
  const { page } = await openPage(browser, app.url);
  // Another account is signed in as far as the program is concerned.
  await page.route('**/api/state', (route) => {
    const request = route.request();
    if (request.method() !== 'POST') return route.continue();
    return route.continue({ headers: { ...request.headers(), 'x-mesk-profile': '0123456789abcdef0123456789abcdef' } });
  });
  await setCode(page, 'int main(void) { return 1; }');
  await page.waitForSelector('#banner:not([hidden])', { timeout: 10000 });
  assert.match(await page.textContent('#banner'), /请重新打开页面/);
  assert.ok(await page.isVisible('#banner button'));
  await page.close();
});

test('the progress view draws per-topic bars and a calendar of passes', async () => {
  const small = smallBank();
  const today = new Date();
  const day = (offset) => {
    const d = new Date(today);
    d.setDate(d.getDate() - offset);
    return `${d.getFullYear()}-${String(d.getMonth() + 1).padStart(2, '0')}-${String(d.getDate()).padStart(2, '0')}`;
  };
  const state = {
    version: 1, settings: {}, exercises: {
      sum: { drafts: {}, attempts: 3, best: 'accepted', passDates: [day(0), day(1)], basis: judgingBasis(small.questions[0]) },
      greet: { drafts: {}, attempts: 1, best: 'accepted', passDates: [day(0)], basis: judgingBasis(small.questions[2]) },
      max2: { drafts: { cpp: 'int main(){}' }, attempts: 2, best: 'failed', passDates: [] },
    },
  };
  const other = await startProgram(makeFolder({ bank: small, state }));
  try {
    const { page, problems } = await openPage(browser, other.url);
    await page.click('#nav-progress');
    const cards = await page.$$eval('.card-value', (c) => c.map((x) => x.textContent));
    assert.deepEqual(cards.slice(0, 3), ['2 题', '6 次', '2 天']);
    assert.equal(await page.getAttribute(`.hm[data-date="${day(0)}"]`, 'data-count'), '2');
    assert.equal(await page.getAttribute(`.hm[data-date="${day(1)}"]`, 'data-count'), '1');
    assert.equal(await page.getAttribute(`.hm[data-date="${day(2)}"]`, 'data-count'), '0');
    const width = (topic, cls) => page.$eval(`.topic-row[data-topic="${topic}"] .${cls}`, (r) => Number(r.getAttribute('width')));
    const full = await width(1, 'bar-bg');
    assert.equal(await width(1, 'bar-passed'), full, 'topic 1: all passed');
    assert.equal(await width(3, 'bar-passed'), 0, 'topic 3: none passed');
    assert.equal(await width(3, 'bar-tried'), full, 'topic 3: tried');
    assert.equal(await width(4, 'bar-passed'), 0, 'a topic without exercises');
    await page.screenshot({ path: join(SHOTS, 'progress-filled.png') });
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    await other.stop();
  }
});

test('in the desktop window: ready, saving before close, and file export through the window', async () => {
  const folder = makeFolder({ bank: smallBank() });
  const other = await startProgram(folder);
  try {
    const { page, problems } = await openPage(browser, other.url, {
      initScript: () => {
        const target = new EventTarget();
        window.__posted = [];
        window.chrome = window.chrome || {};
        window.chrome.webview = {
          postMessage: (m) => window.__posted.push(m),
          addEventListener: (type, fn) => target.addEventListener(type, fn),
          removeEventListener: (type, fn) => target.removeEventListener(type, fn),
        };
        window.__host = (data) => target.dispatchEvent(new MessageEvent('message', { data }));
      },
    });
    const posted = () => page.evaluate(() => window.__posted);
    assert.deepEqual(await posted(), [{ type: 'ready' }]);
    assert.equal(await page.isVisible('#quit'), false, 'the window ends the program itself');

    await page.click('.exercise-item[data-id="sum"]');
    await setCode(page, '// 关闭前的草稿\nint main(void) { return 0; }');
    await page.evaluate(() => window.__host('request-close'));
    await waitFor(async () => (await posted()).some((m) => m.type === 'close-ready'), 5000, 'close-ready');
    assert.equal(other.readState().records.sum.drafts.c, '// 关闭前的草稿\nint main(void) { return 0; }');

    await page.click('#export-code');
    const save = await waitFor(async () => (await posted()).find((m) => m.type === 'save'), 5000, 'the save message');
    assert.equal(save.name, 'sum.c');
    assert.deepEqual([...Buffer.from(save.data, 'base64').subarray(0, 7)], [0x2f, 0x2f, 0x20, 0xb9, 0xd8, 0xb1, 0xd5], 'GBK for 关闭');
    await page.evaluate((id) => window.__host({ type: 'file-saved', id, ok: true, cancelled: false, message: '文件已保存到你选择的位置。' }), save.id);
    await waitFor(async () => (await page.textContent('#toast')) === '文件已保存到你选择的位置。', 5000, 'the saved message');
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    await other.stop();
  }
});

test('the quit button ends the program after saving', async () => {
  const other = await startProgram(makeFolder({ bank: smallBank() }));
  try {
    const { page } = await openPage(browser, other.url);
    await page.click('.exercise-item[data-id="sum"]');
    await setCode(page, 'int main(void) { return 0; } /* 退出前 */');
    await page.click('#quit');
    await page.click('.dialog .btn-primary');
    await page.waitForSelector('#fatal:not([hidden])', { timeout: 10000 });
    assert.match(await page.textContent('#fatal'), /Tavrin 已退出/);
    const code = await Promise.race([other.exited, new Promise((r) => setTimeout(() => r('still running'), 10000))]);
    assert.equal(code, 0);
    assert.equal(other.readState().records.sum.drafts.c, 'int main(void) { return 0; } /* 退出前 */');
    await page.close();
  } finally {
    await other.stop();
  }
});

test('without compilers the page says so and what to do', async () => {
  // Nothing on PATH and no toolchain folder: the program finds no gcc or g++.
  const other = await startProgram(makeFolder({ bank: smallBank() }), { env: { PATH: '/nonexistent' } });
  try {
    const status = await other.api('/api/status');
    assert.equal(status.data.available, false);
    const { page, problems } = await openPage(browser, other.url);
    await page.waitForSelector('#banner:not([hidden])');
    const text = await page.textContent('#banner');
    assert.match(text, /没有找到 C 编译器 gcc/);
    assert.match(text, /重新安装本程序|加入 PATH/);
    assert.match(await page.textContent('#compiler-state'), /gcc ✗/);
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    await other.stop();
  }
});
