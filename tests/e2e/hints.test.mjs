// The help ladder of an exercise that has hints of its own: one hint at a time from the
// first failed submission, hints already read folded away, then the reference solution.
// Exercises without hints keep the ladder that starts after three failures.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { makeFolder, startProgram, launchBrowser, openPage, setCode, waitFor, judgeReady, screenshots } from './harness.mjs';
import { smallBank, SUM_REFERENCE } from './fixtures.mjs';

const SOURCE = join(dirname(fileURLToPath(import.meta.url)), '..', '..');

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

async function submit(page, code) {
  await setCode(page, code);
  await page.evaluate(() => document.querySelector('#result').replaceChildren());
  await page.click('#submit');
  await page.waitForSelector('.verdict-head', { timeout: 120000 });
}

const stepTexts = (page, where) => page.$$eval(`${where} .help-step`, (steps) => steps.map((s) => s.textContent));
const flat = (text) => text.replace(/`/g, '').replace(/\s+/g, '');

test('a bundled exercise: its own hints one by one from the first failure, then the reference', async (t) => {
  const folder = makeFolder();
  const app = await startProgram(folder);
  try {
    if (!(await judgeReady(app))) { t.skip('the program does not judge yet'); return; }
    const bank = JSON.parse(readFileSync(join(folder, 'data', 'bank.json'), 'utf8'));
    const ex = bank.questions.find((q) => q.id === 'range-sum');
    assert.ok(ex && Array.isArray(ex.hints) && ex.hints.length === 2, 'range-sum carries two hints');
    const wrong = readFileSync(join(SOURCE, 'bank', '07-functions', 'range-sum', 'wrong', 'via-double.c'), 'utf8');
    const { page, problems } = await openPage(browser, app.url);
    await page.click('.exercise-item[data-id="range-sum"]');

    await submit(page, wrong);
    assert.match(await page.textContent('#help-ladder h3'), /这次没通过/);
    assert.equal(await page.isVisible('.help-step'), false, 'nothing is shown before it is asked for');
    assert.equal(await page.isVisible('#help-solution'), false, 'the answer comes after the hints');
    assert.equal(await page.textContent('#help-next'), '第 1 步：思路');
    await page.click('#help-next');
    let shown = await stepTexts(page, '.help-steps');
    assert.equal(shown.length, 1);
    assert.equal(flat(shown[0]), flat('思路' + ex.hints[0]));
    assert.equal(await page.textContent('#help-next'), '第 2 步：关键一步');

    // A second failure: the hint already read is folded away, not said again.
    await submit(page, wrong + '/* 再试一次 */\n');
    assert.match(await page.textContent('#help-ladder h3'), /已经连续 2 次没通过/);
    assert.equal(await page.textContent('.help-seen summary'), '看过的提示（1 条）');
    assert.equal(await page.isVisible('.help-seen .help-step'), false, 'folded');
    assert.deepEqual(await stepTexts(page, '.help-steps'), []);
    await page.click('#help-next');
    shown = await stepTexts(page, '.help-steps');
    assert.deepEqual(shown.map(flat), [flat('关键一步' + ex.hints[1])]);
    assert.equal(await page.isVisible('#help-next'), false, 'no more hints');

    await page.click('#help-solution');
    await page.click('.dialog[open] button:has-text("再想想")');
    assert.equal(await page.isVisible('.help-solution'), false, 'no answer without a yes');
    await page.click('#help-solution');
    await page.click('.dialog[open] button:has-text("看答案")');
    assert.equal(await page.textContent('.help-solution pre'), ex.reference);
    await screenshots(page, 'hint-ladder');

    // A passing submission shows no ladder.
    await submit(page, ex.reference);
    assert.equal(await page.isVisible('#help-ladder'), false);
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    await app.stop();
  }
});

test('hints are text: markup in a bank\'s hint is shown, never run; banks without hints keep the old ladder', async (t) => {
  const bank = smallBank();
  const sum = bank.questions.find((q) => q.id === 'sum');
  sum.hints = ['读入两个整数，输出它们的和。用 `scanf("%d %d", &a, &b)` 读。', '<img src=x onerror="window.__hacked=1">注意是加号。'];
  const app = await startProgram(makeFolder({ bank }));
  try {
    if (!(await judgeReady(app))) { t.skip('the program does not judge yet'); return; }
    const { page, problems } = await openPage(browser, app.url);
    await page.click('.exercise-item[data-id="sum"]');
    await submit(page, SUM_REFERENCE.replace('a + b', 'a * b'));
    await page.click('#help-next');
    assert.equal(await page.textContent('.help-steps .help-step code'), 'scanf("%d %d", &a, &b)');
    await page.click('#help-next');
    const second = await page.textContent('.help-steps .help-step[data-step="2"]');
    assert.match(second, /<img src=x onerror="window.__hacked=1">注意是加号。/);
    assert.equal(await page.$$eval('#help-ladder img', (x) => x.length), 0);
    assert.equal(await page.evaluate(() => window.__hacked), undefined);

    // max2 has no hints: nothing after one or two failures, the old ladder after three.
    await page.click('.exercise-item[data-id="max2"]');
    const wrong = '#include <iostream>\nint main() { int a, b; std::cin >> a >> b; std::cout << (a < b ? a : b) << "\\n"; }\n';
    for (let k = 1; k <= 3; k++) {
      await submit(page, wrong + `// 第 ${k} 次\n`);
      assert.equal(await page.isVisible('#help-ladder'), k >= 3, `help after ${k} failures`);
    }
    assert.equal(await page.isVisible('#help-hint'), true);
    await waitFor(async () => (await page.$('#help-next')) === null, 5000, 'no hint steps for an exercise without hints');
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    await app.stop();
  }
});
