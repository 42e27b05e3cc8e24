// The practice room around the editor: the code font and the editor's look,
// keyboard saving, the skip link and the session token, the language switch,
// a program that stopped under the page, starting where one left off, and the
// page's own words.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { makeFolder, startProgram, launchBrowser, openPage, setCode, editorText, waitFor, SHOTS, screenshots } from './harness.mjs';
import { smallBank, MAX_REFERENCE } from './fixtures.mjs';

let app;
let browser;

before(async () => {
  app = await startProgram(makeFolder({ bank: smallBank() }));
  browser = await launchBrowser();
});
after(async () => {
  await browser?.close();
  await app?.stop();
});

const day = (offset) => {
  const d = new Date();
  d.setDate(d.getDate() - offset);
  return `${d.getFullYear()}-${String(d.getMonth() + 1).padStart(2, '0')}-${String(d.getDate()).padStart(2, '0')}`;
};

test('the editor uses the bundled code font, zooms, wraps, turns dark, and all of it stays after a reload', async () => {
  const { page, problems } = await openPage(browser, app.url);
  const family = await page.$eval('.cm-content', (c) => getComputedStyle(c).fontFamily);
  assert.match(family, /^"Mesk Mono"/);
  const loaded = await page.evaluate(async () => {
    await document.fonts.ready;
    return [...document.fonts].some((f) => f.family.replace(/"/g, '') === 'Mesk Mono' && f.status === 'loaded');
  });
  assert.ok(loaded, 'the code font file was loaded');
  assert.equal(await page.$eval('.cm-content', (c) => getComputedStyle(c).fontVariantLigatures), 'none', '!= stays != on screen');

  await page.click('#font-larger');
  await page.click('#font-larger');
  assert.equal(await page.$eval('.cm-content', (c) => getComputedStyle(c).fontSize), '16px');
  assert.equal(await page.textContent('#font-size'), '16');
  await page.click('#toggle-wrap');
  assert.ok(await page.$eval('.cm-content', (c) => c.classList.contains('cm-lineWrapping')));
  await page.click('#toggle-theme');
  assert.equal(await page.getAttribute('html', 'data-theme'), 'dark');
  assert.equal(await page.$eval('body', (b) => getComputedStyle(b).backgroundColor), 'rgb(20, 24, 31)');
  // No part of the editor keeps a light surface: the gutter, its current line
  // number and the current line (CodeMirror's own light colours once won there).
  await page.click('.cm-content');
  const surfaces = await page.evaluate(() => ['.cm-editor', '.cm-gutters', '.cm-activeLineGutter', '.cm-activeLine'].map((sel) => {
    // The colour a surface shows: its own background laid over its parents'.
    const rgba = (el) => (getComputedStyle(el).backgroundColor.match(/[\d.]+/g) || []).map(Number);
    let el = document.querySelector(sel);
    const layers = [];
    for (; el; el = el.parentElement) layers.push(rgba(el));
    let shown = [255, 255, 255];
    for (const [r, g, b, a = 1] of layers.reverse()) shown = shown.map((c, i) => c * (1 - a) + [r, g, b][i] * a);
    return [sel, Math.round(Math.max(...shown))];
  }));
  for (const [sel, brightest] of surfaces) assert.ok(brightest < 90, `${sel} is dark in the dark theme (brightest channel ${brightest})`);
  for (const viewport of [{ width: 1366, height: 768 }, { width: 1920, height: 1080 }]) {
    await page.setViewportSize(viewport);
    await page.screenshot({ path: join(SHOTS, `practice-dark-${viewport.width}x${viewport.height}.png`) });
  }
  await waitFor(() => app.readState()?.settings?.theme === 'dark', 10000, 'the look saved');
  await page.reload();
  await page.waitForSelector('body.ready');
  assert.equal(await page.$eval('.cm-content', (c) => getComputedStyle(c).fontSize), '16px');
  assert.ok(await page.$eval('.cm-content', (c) => c.classList.contains('cm-lineWrapping')));
  assert.equal(await page.getAttribute('html', 'data-theme'), 'dark');
  // Back to the defaults for the other tests.
  await page.click('#toggle-theme');
  await page.click('#toggle-wrap');
  await page.click('#font-smaller');
  await page.click('#font-smaller');
  await waitFor(() => app.readState()?.settings?.theme === 'light', 10000, 'the defaults saved');
  assert.deepEqual(problems, []);
  await page.close();
});

test('Ctrl+S saves the draft at once and never the browser\'s page; the top bar says it is saved automatically', async () => {
  const { page, problems } = await openPage(browser, app.url, { viewport: { width: 1366, height: 768 } });
  let downloads = 0;
  page.on('download', () => { downloads++; });
  await page.click('.exercise-item[data-id="greet"]');
  const states = [];
  await page.exposeFunction('__saveState', (t) => states.push(t));
  await page.evaluate(() => new MutationObserver(() => window.__saveState(document.querySelector('#save-state').textContent))
    .observe(document.querySelector('#save-state'), { childList: true, characterData: true, subtree: true }));
  const code = '#include <stdio.h>\nint main(void) { puts("Ctrl+S"); return 0; }\n';
  await setCode(page, code);
  await page.keyboard.press('Control+s');
  await waitFor(async () => (await page.textContent('#toast')) === '草稿已保存。', 5000, 'the saved notice');
  assert.equal(app.readState().records.greet.drafts.c, code);
  await waitFor(async () => (await page.textContent('#save-state')) === '已自动保存', 5000, 'the top bar');
  assert.ok(states.every((s) => ['保存中…', '已自动保存'].includes(s)), states.join(' | '));
  assert.equal(downloads, 0);

  // The keyboard hints are on screen at 1366 wide.
  const hints = await page.locator('#key-hints').boundingBox();
  assert.ok(hints && hints.x >= 0 && hints.x + hints.width <= 1366 && hints.y + hints.height <= 768, JSON.stringify(hints));
  assert.match(await page.textContent('#key-hints'), /Ctrl\+Enter 提交 Ctrl\+' 运行样例 Ctrl\+S 保存/);
  await page.screenshot({ path: join(SHOTS, 'practice-hints-1366x768.png') });
  assert.deepEqual(problems, []);
  await page.close();
});

test('the skip link focuses the editor and leaves the address alone; a reload keeps working', async () => {
  const { page, problems } = await openPage(browser, app.url);
  await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'skip-link');
  await page.keyboard.press('Enter');
  assert.equal(page.url(), app.url);
  assert.ok(await page.evaluate(() => document.activeElement.classList.contains('cm-content')), 'the editor has the focus');
  await page.reload();
  await page.waitForSelector('body.ready', { timeout: 15000 });
  // Even an address that lost its fragment works again in the same tab.
  await page.goto(app.url.split('#')[0]);
  await page.waitForSelector('body.ready', { timeout: 15000 });
  assert.deepEqual(problems, []);
  await page.close();

  // A page opened without the token at all says what to do.
  const stranger = await browser.context.newPage();
  await stranger.goto(app.url.split('#')[0]);
  await stranger.waitForSelector('#fatal:not([hidden])');
  assert.match(await stranger.textContent('#fatal'), /页面地址不完整.*请重新启动 Tavrin/);
  await stranger.close();
});

test('switching the language takes the code along, offers an earlier draft, and undo brings text back', async () => {
  const { page, problems } = await openPage(browser, app.url);
  await page.click('.exercise-item[data-id="sum"]');
  await page.click('#lang-c');
  await setCode(page, MAX_REFERENCE);
  await page.click('#lang-cpp');
  assert.equal(await editorText(page), MAX_REFERENCE, 'the C++ code written in the C exercise comes along');
  const edited = MAX_REFERENCE.replace('int a, b;', 'int a, b; // 改过');
  await setCode(page, edited);
  await page.click('#lang-c');
  await page.waitForSelector('.dialog[open]');
  assert.match(await page.textContent('.dialog[open]'), /之前在 C99 下也写过一份代码/);
  await page.click('.dialog[open] button:has-text("打开之前的 C99 代码")');
  assert.equal(await editorText(page), MAX_REFERENCE);
  await page.click('.cm-content');
  await page.keyboard.press('Control+z');
  assert.equal(await editorText(page), edited, 'undo brings back the code that was on screen');
  const cVersion = '#include <stdio.h>\nint main(void) { return 0; } /* C 版 */\n';
  await setCode(page, cVersion);
  await page.click('#lang-cpp');
  await page.click('.dialog[open] button:has-text("取消")');
  assert.equal(await page.getAttribute('#lang-c', 'aria-checked'), 'true', 'cancel keeps the language');
  assert.equal(await editorText(page), cVersion);
  await waitFor(() => app.readState()?.records?.sum?.drafts?.c === cVersion, 10000, 'the C draft saved');
  assert.equal(app.readState().records.sum.drafts.cpp, edited, 'the C++ draft is still there');
  assert.deepEqual(problems, []);
  await page.close();
});

test('a program that stopped under the page is said plainly, with the code offered to copy and download', async () => {
  const other = await startProgram(makeFolder({ bank: smallBank() }));
  try {
    const { page } = await openPage(browser, other.url);
    await page.click('.exercise-item[data-id="sum"]');
    other.proc.kill('SIGTERM');
    await other.exited;
    await setCode(page, '#include <stdio.h>\nint main(void) { puts("停止后写的"); return 0; }\n');
    await page.waitForSelector('#banner.banner-stopped:not([hidden])', { timeout: 15000 });
    assert.match(await page.textContent('#banner'), /Tavrin 已经停止运行，刚才的修改没有保存/);
    assert.equal(await page.textContent('#save-state'), '没有保存');
    await screenshots(page, 'program-stopped');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#banner button:has-text("下载代码")')]);
    assert.equal(download.suggestedFilename(), 'sum.c');
    assert.equal(readFileSync(await download.path(), 'utf8'), await editorText(page));
    await page.close();
  } finally {
    await other.stop();
  }
});

test('start where one left off; cards count practice days; topic bars open their exercises; calendar labels fit', async () => {
  const small = smallBank();
  const state = {
    version: 1, settings: { last: 'greet' }, exercises: {
      sum: { drafts: {}, attempts: 2, best: 'failed', passDates: [], days: [day(0), day(3)] },
      greet: { drafts: {}, attempts: 1, best: 'failed', passDates: [], days: [day(1)] },
    },
  };
  const other = await startProgram(makeFolder({ bank: small, state }));
  try {
    const { page, problems } = await openPage(browser, other.url);
    assert.equal(await page.textContent('.st-title'), '回答是');
    assert.match(await page.textContent('#toast'), /继续上次：回答是/);
    await page.click('.exercise-item[data-id="sum"]');
    await page.click('#nav-progress');
    const cards = await page.$$eval('.card', (c) => c.map((x) => [x.querySelector('.card-key').textContent, x.querySelector('.card-value').textContent]));
    assert.deepEqual(Object.fromEntries(cards)['练习天数'], '3 天');
    assert.deepEqual(Object.fromEntries(cards)['连续练习'], '2 天');
    const fits = await page.$$eval('.heatmap', ([svg]) => {
      const width = svg.viewBox.baseVal.width;
      return [...svg.querySelectorAll('.hm-label')].every((t) => { const b = t.getBBox(); return b.x >= 0 && b.x + b.width <= width; });
    });
    assert.ok(fits, 'every calendar label inside the drawing');
    await screenshots(page, 'progress-continue');
    await page.click('#continue-last');
    assert.equal(await page.isVisible('#view-practice'), true);
    assert.equal(await page.textContent('.st-title'), '两数相加');

    await page.click('#nav-progress');
    await page.click('.topic-row[data-topic="3"]');
    assert.equal(await page.isVisible('#view-practice'), true);
    assert.equal(await page.inputValue('#filter-topic'), '3');
    assert.deepEqual(await page.$$eval('.exercise-item', (i) => i.map((x) => x.dataset.id)), ['max2']);
    assert.equal(await page.textContent('.st-title'), '较大的数');
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    await other.stop();
  }
});

test('the page\'s own words', async () => {
  const { page } = await openPage(browser, app.url);
  assert.deepEqual(await page.$$eval('.filter-row select', (s) => s.map((x) => x.options[0].textContent)), ['全部专题', '全部难度', '全部状态']);
  const text = await page.evaluate(() => document.body.innerText);
  for (const stiff of ['未全部通过', '缺少会话信息', '有未保存的修改']) assert.ok(!text.includes(stiff), stiff);
  await page.close();
});
