// Progress that lives longer than one page: two pages open at once (one
// browser, and two browsers such as the desktop window beside a tab), the
// submission history, and the help offered after repeated failures.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { makeFolder, startProgram, launchBrowser, openPage, setCode, editorText, waitFor, judgeReady, SHOTS, screenshots } from './harness.mjs';
import { smallBank, SUM_REFERENCE } from './fixtures.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

const saved = (page) => waitFor(async () => (await page.textContent('#save-state')) === '已自动保存', 15000, 'the save');

test('two pages in one browser: each page\'s drafts are kept, and the other page follows', async () => {
  const app = await startProgram(makeFolder({ bank: smallBank() }));
  try {
    const a = await openPage(browser, app.url);
    const b = await openPage(browser, app.url);
    await a.page.click('.exercise-item[data-id="sum"]');
    await b.page.click('.exercise-item[data-id="greet"]');
    const sumA = '// A 页面写的\nint main(void) { return 0; }\n';
    const greetB = '// B 页面写的\nint main(void) { return 0; }\n';
    await setCode(a.page, sumA);
    await setCode(b.page, greetB);
    await Promise.all([saved(a.page), saved(b.page)]);
    await waitFor(() => {
      const s = app.readState();
      return s?.records?.sum?.drafts?.c === sumA && s?.records?.greet?.drafts?.c === greetB;
    }, 10000, 'both drafts on disk');

    // Page B opens the exercise page A is writing: it shows A's code.
    await b.page.click('.exercise-item[data-id="sum"]');
    assert.equal(await editorText(b.page), sumA);
    const sumB = sumA + '// B 接着写\n';
    await setCode(b.page, sumB);
    await saved(b.page);
    // A follows without losing anything: its editor now shows the newer code.
    await waitFor(async () => (await editorText(a.page)) === sumB, 10000, 'page A to follow');
    // A draft A typed just before closing is not overwritten by B afterwards.
    const lastA = sumB + '// A 最后一笔\n';
    await setCode(a.page, lastA);
    await a.page.close({ runBeforeUnload: true });
    await waitFor(() => app.readState()?.records?.sum?.drafts?.c === lastA, 10000, 'A\'s last draft');
    await b.page.click('.exercise-item[data-id="greet"]');
    await setCode(b.page, greetB + '// 再改一次\n');
    await saved(b.page);
    const s = app.readState();
    assert.equal(s.records.sum.drafts.c, lastA, 'B did not write over A\'s last draft');
    assert.deepEqual([...a.problems, ...b.problems], []);
    await b.page.close();
  } finally {
    await app.stop();
  }
});

test('two browsers (the window and a tab): the same draft edited in both keeps both texts', async () => {
  const app = await startProgram(makeFolder({ bank: smallBank() }));
  const other = await launchBrowser();
  try {
    const a = await openPage(browser, app.url);
    const b = await openPage(other, app.url);
    await a.page.click('.exercise-item[data-id="sum"]');
    await b.page.click('.exercise-item[data-id="sum"]');
    const fromA = '// 标签页里写的\nint main(void) { return 1; }\n';
    const fromB = '// 窗口里写的\nint main(void) { return 2; }\n';
    await setCode(a.page, fromA);
    await saved(a.page);
    await setCode(b.page, fromB);
    await saved(b.page);
    const s = app.readState();
    assert.equal(s.records.sum.drafts.c, fromB, 'the newer text is the draft');
    assert.deepEqual(s.records.sum.earlier.map((e) => e.code), [fromA], 'the other one is kept as an earlier version');
    // Back in the tab, the page takes in the newer draft when it gets the focus.
    await a.page.bringToFront();
    await a.page.evaluate(() => window.dispatchEvent(new Event('focus')));
    await waitFor(async () => (await editorText(a.page)) === fromB, 10000, 'the tab to follow');
    assert.match(await a.page.textContent('#toast'), /另一个页面保存了这道题较新的代码/);
    assert.deepEqual([...a.problems, ...b.problems], []);
    await a.page.close();
    await b.page.close();
  } finally {
    await other.close();
    await app.stop();
  }
});

test('submission history: kept across a restart, opened, compared with the code now, put back', async (t) => {
  const folder = makeFolder({ bank: smallBank() });
  let app = await startProgram(folder);
  if (!(await judgeReady(app))) { await app.stop(); t.skip('the program does not judge yet'); return; }
  try {
    const { page } = await openPage(browser, app.url);
    await page.click('.exercise-item[data-id="sum"]');
    const wrong = SUM_REFERENCE.replace('a + b', 'a - b');
    await setCode(page, wrong);
    await page.click('#submit');
    await page.waitForSelector('.verdict-head', { timeout: 60000 });
    await setCode(page, SUM_REFERENCE);
    await page.click('#submit');
    await page.waitForSelector('.verdict-status:has-text("全部通过")', { timeout: 60000 });
    await waitFor(() => app.readState()?.records?.sum?.history?.length === 2, 10000, 'the history on disk');
    await page.close();
    // Restart the program in the same folder.
    await fetch(`http://${app.host}/api/shutdown`, { method: 'POST', headers: { Authorization: `Bearer ${app.token}` } });
    await app.exited;
    app = await startProgram(folder);
    const { page: again, problems } = await openPage(browser, app.url);
    await again.click('.exercise-item[data-id="sum"]');
    await again.click('#tab-history');
    const rows = await again.$$eval('.history-item .history-result', (r) => r.map((x) => x.textContent));
    assert.deepEqual(rows, ['全部通过 4/4', '答案错误 · 第 1 个测试点 · 未通过（0/4）'], 'newest first');
    await again.click('.history-item:nth-child(2) .history-open');
    assert.equal(await again.textContent('.history-item:nth-child(2) .history-code'), wrong);
    await again.click('.history-item:nth-child(2) .history-compare');
    const changedRows = await again.$$eval('.history-item:nth-child(2) .diff-table tr.row-changed td.txt', (t) => t.map((x) => x.textContent));
    assert.deepEqual(changedRows, ['    printf("%d\\n", a - b);', '    printf("%d\\n", a + b);']);
    await screenshots(again, 'history');
    await again.click('.history-item:nth-child(2) .history-restore');
    assert.equal(await editorText(again), wrong);
    await again.keyboard.press('Control+z');
    await again.click('.cm-content');
    await again.keyboard.press('Control+z');
    assert.equal(await editorText(again), SUM_REFERENCE, 'putting back is one undo step');
    assert.deepEqual(problems, []);
    await again.close();
  } finally {
    await app.stop();
  }
});

test('after three failures in a row: a hint from the failing case first, the reference solution only when confirmed', async (t) => {
  const app = await startProgram(makeFolder({ bank: smallBank() }));
  try {
    if (!(await judgeReady(app))) { t.skip('the program does not judge yet'); return; }
    const { page, problems } = await openPage(browser, app.url);
    await page.click('.exercise-item[data-id="sum"]');
    const wrong = SUM_REFERENCE.replace('a + b', 'a * b');
    for (let k = 1; k <= 3; k++) {
      await setCode(page, wrong + `/* 第 ${k} 次 */\n`);
      await page.evaluate(() => document.querySelector('#result').replaceChildren());
      await page.click('#submit');
      await page.waitForSelector('.verdict-head', { timeout: 60000 });
      assert.equal(await page.isVisible('#help-ladder'), k >= 3, `help after ${k} failures`);
    }
    assert.match(await page.textContent('#help-ladder h3'), /已经连续 3 次没通过/);
    await page.click('#help-hint');
    const hint = await page.textContent('.help-hint');
    assert.match(hint, /拿第 1 个测试点在纸上走一遍：输入是1 2，应该输出3，你的程序输出了2。/);
    assert.match(hint, /从第一个未通过的用例定位/);
    assert.equal(await page.isVisible('.help-solution'), false);
    await page.click('#help-solution');
    await page.click('.dialog[open] button:has-text("再想想")');
    assert.equal(await page.isVisible('.help-solution'), false, 'no answer without a yes');
    await page.click('#help-solution');
    await page.click('.dialog[open] button:has-text("看答案")');
    assert.equal(await page.textContent('.help-solution pre'), SUM_REFERENCE);
    await screenshots(page, 'help-ladder');
    await waitFor(() => app.readState()?.records?.sum?.sawSolution === 1, 10000, 'the look at the answer noted');
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    await app.stop();
  }
});
