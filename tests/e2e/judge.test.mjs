// Judging through the page: samples and tests, accepted and wrong answers with
// the first difference marked, compile errors linked to the editor, crashes
// explained, the busy state, and the keyboard.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { makeFolder, startProgram, launchBrowser, openPage, setCode, waitFor, judgeReady, SHOTS } from './harness.mjs';
import { smallBank, SUM_REFERENCE, MAX_REFERENCE } from './fixtures.mjs';

let app;
let browser;
let ready = false;

before(async () => {
  app = await startProgram(makeFolder({ bank: smallBank() }));
  ready = await judgeReady(app);
  browser = await launchBrowser();
});
after(async () => {
  await browser?.close();
  await app?.stop();
});

async function openExercise(t, id) {
  if (!ready) { t.skip('the program does not judge yet'); return null; }
  const opened = await openPage(browser, app.url);
  await opened.page.click(`.exercise-item[data-id="${id}"]`);
  return opened;
}

async function verdict(page) {
  await page.waitForSelector('#result .verdict-head, #result .verdict-error', { timeout: 60000 });
  return {
    status: await page.textContent('.verdict-status').catch(() => null),
    score: await page.textContent('.verdict-score').catch(() => null),
    meta: await page.textContent('.verdict-meta').catch(() => null),
    rows: await page.$$eval('.case-row', (rows) => rows.map((r) => [...r.cells].slice(0, 4).map((c) => c.textContent))),
  };
}

test('the reference answer is accepted; the pass is shown, counted and saved', async (t) => {
  const opened = await openExercise(t, 'sum');
  if (!opened) return;
  const { page, problems } = opened;
  await setCode(page, SUM_REFERENCE);
  await page.click('#submit');
  await page.waitForSelector('#busy:not([hidden])', { timeout: 5000 }).catch(() => {});
  const v = await verdict(page);
  assert.equal(v.status, '全部通过 4/4');
  assert.equal(v.score, null);
  assert.match(v.meta, /^提交 · C99/);
  assert.deepEqual(v.rows.map((r) => r[1]), ['通过', '通过', '通过', '通过']);
  assert.match(await page.textContent('.suggestions'), /已通过当前全部测试/);
  assert.equal(await page.textContent('#result-badge'), '4/4');
  assert.match(await page.getAttribute('.exercise-item[data-id="sum"]', 'class'), /state-passed/);
  await waitFor(() => app.readState()?.records?.sum?.best === 'accepted', 10000, 'the saved pass');
  const r = app.readState().records.sum;
  assert.equal(r.attempts, 1);
  assert.equal(r.passDates.length, 1);
  await page.screenshot({ path: join(SHOTS, 'verdict-accepted.png') });
  assert.deepEqual(problems, []);
  await page.close();
});

test('a wrong answer marks the first difference on both sides and says what it means', async (t) => {
  const opened = await openExercise(t, 'sum');
  if (!opened) return;
  const { page, problems } = opened;
  // Off by one on every case.
  await setCode(page, '#include <stdio.h>\nint main(void)\n{\n    int a, b;\n    if (scanf("%d %d", &a, &b) != 2) return 1;\n    printf("%d\\n", a + b + 1);\n    return 0;\n}\n');
  await page.keyboard.press('Control+Enter');
  const v = await verdict(page);
  assert.equal(v.status, '答案错误 · 第 1 个测试点 · 第 1 行不同');
  assert.equal(v.score, '未通过（0/4）');
  assert.deepEqual(v.rows.map((r) => r[1]), ['答案错误', '答案错误', '答案错误', '答案错误']);
  // The first failing case is open.
  const detail = page.locator('.case-detail:not([hidden])').first();
  assert.match(await detail.locator('.diff-note').textContent(), /第一处不同：实际输出第 1 行第 1 列。.*数值不同/);
  assert.deepEqual(await detail.locator('mark.diff-mark').allTextContents(), ['3', '4']);
  assert.deepEqual(await detail.locator('.io-title').allTextContents(), ['输入', '预期输出', '实际输出']);
  await page.screenshot({ path: join(SHOTS, 'verdict-wrong.png') });
  await waitFor(() => app.readState()?.records?.sum?.attempts === 2, 10000, 'the counted attempt');
  assert.equal(app.readState().records.sum.best, 'accepted', 'a later failure keeps the earlier pass');
  assert.deepEqual(problems, []);
  await page.close();
});

test('running the samples judges only the samples and is not counted', async (t) => {
  const opened = await openExercise(t, 'greet');
  if (!opened) return;
  const { page, problems } = opened;
  await setCode(page, '#include <stdio.h>\nint main(void) { printf("yes\\nDone\\n"); return 0; }\n');
  await page.keyboard.press("Control+'");
  const v = await verdict(page);
  assert.match(v.meta, /^运行样例/);
  assert.deepEqual(v.rows.map((r) => r[1]), ['答案错误']);
  assert.match(await page.textContent('.case-detail .diff-note'), /大小写不同/);
  await page.waitForTimeout(1500);
  assert.equal(app.readState()?.records?.greet?.attempts ?? 0, 0);
  assert.deepEqual(problems, []);
  await page.close();
});

test('a compile error lists the messages; a line link moves the editor there', async (t) => {
  const opened = await openExercise(t, 'sum');
  if (!opened) return;
  const { page, problems } = opened;
  await setCode(page, '#include <stdio.h>\n\nint main(void)\n{\n    int a = 1\n    printf("%d\\n", a);\n    return 0;\n}\n');
  await page.click('#submit');
  const v = await verdict(page);
  assert.match(v.status, /^编译错误 · 第 [56] 行$/);
  assert.deepEqual(v.rows, []);
  const links = await page.$$eval('.diag-error .diag-loc', (l) => l.map((x) => x.textContent));
  assert.ok(links.length >= 1);
  const line = Number(/第 (\d+) 行/.exec(links[0])[1]);
  assert.ok(line === 5 || line === 6, `error reported on line ${line}`);
  assert.match(await page.textContent('.diag-first'), /分号/);
  await page.click('.cm-content');
  await page.keyboard.press('Control+Home');
  await page.click('.diag-error .diag-loc');
  const active = await page.textContent('.cm-activeLine');
  assert.equal(active, ['    int a = 1', '    printf("%d\\n", a);'][line - 5]);
  assert.ok(await page.locator('.cm-lint-marker-error').count() >= 1, 'the gutter marks the line');
  assert.match(await page.textContent('.suggestions'), /先解决编译问题/);
  await page.screenshot({ path: join(SHOTS, 'verdict-compile-error.png') });
  assert.deepEqual(problems, []);
  await page.close();
});

test('a crash is explained with its exit code', async (t) => {
  const opened = await openExercise(t, 'sum');
  if (!opened) return;
  const { page, problems } = opened;
  await setCode(page, '#include <stdio.h>\nint main(void)\n{\n    int *p = NULL;\n    volatile int x = *p;\n    printf("%d\\n", x);\n    return 0;\n}\n');
  await page.click('#run-samples');
  const v = await verdict(page);
  assert.deepEqual(v.rows.map((r) => r[1]), ['运行错误']);
  const code = Number(v.rows[0][3]);
  assert.ok(code === 139 || code === 3221225477, `exit code ${code}`);
  assert.match(await page.textContent('.exit-note'), /SIGSEGV|访问违规/);
  assert.deepEqual(problems, []);
  await page.close();
});

test('C++11 is chosen by the exercise and judged as C++', async (t) => {
  const opened = await openExercise(t, 'max2');
  if (!opened) return;
  const { page, problems } = opened;
  assert.equal(await page.getAttribute('#lang-cpp', 'aria-checked'), 'true');
  await setCode(page, MAX_REFERENCE);
  await page.click('#submit');
  const v = await verdict(page);
  assert.equal(v.status, '全部通过 3/3');
  assert.match(v.meta, /C\+\+11/);
  // The same code as C99 does not compile, and the advice says to switch.
  await page.click('#lang-c');
  await setCode(page, MAX_REFERENCE);
  await page.click('#submit');
  await page.waitForSelector('.verdict-compile_error', { timeout: 60000 });
  assert.match(await page.textContent('.suggestions'), /这段代码看起来是 C\+\+/);
  assert.deepEqual(problems, []);
  await page.close();
});

test('while judging the page shows the time and refuses a second run; the program\'s busy answer is shown', async (t) => {
  const opened = await openExercise(t, 'sum');
  if (!opened) return;
  const { page, problems } = opened;
  await setCode(page, 'int main(void) { for (;;) {} }\n');
  await page.click('#submit');
  await page.waitForSelector('#busy:not([hidden])', { timeout: 5000 });
  assert.match(await page.textContent('#busy'), /评测中… \d+\.\d 秒/);
  assert.equal(await page.isDisabled('#submit'), true);
  // Another client meanwhile gets the program's busy answer.
  const other = await app.api('/api/judge', { method: 'POST', body: { id: 'sum', code: 'int main(void){return 0;}' } });
  assert.equal(other.data.error, '已有代码正在评测，请等待本次完成。');
  const v = await verdict(page);
  assert.deepEqual(v.rows.map((r) => r[1]), ['超时', '超时', '没有运行', '没有运行']);
  assert.equal(await page.isDisabled('#submit'), false);

  // The page shows the same busy answer when it is the one refused.
  const slow = app.api('/api/judge', { method: 'POST', body: { id: 'sum', code: 'int main(void) { for (;;) {} }' } });
  await page.waitForTimeout(300);
  await page.click('#run-samples');
  await page.waitForSelector('.verdict-error', { timeout: 10000 });
  assert.match(await page.textContent('.verdict-error'), /已有代码正在评测，请等待本次完成。/);
  await slow;
  assert.deepEqual(problems, []);
  await page.close();
});
