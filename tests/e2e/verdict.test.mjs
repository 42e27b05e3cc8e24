// What a learner reads after a run, against the real judge: the headline that
// names the first failure, crashed and stopped cases, the line-by-line output
// view, beginner diagnoses in the result and in the editor, and quiet tips.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { makeFolder, startProgram, launchBrowser, openPage, setCode, editorText, waitFor, judgeReady, SHOTS, screenshots } from './harness.mjs';
import { verdictBank, SUM_REFERENCE } from './fixtures.mjs';

let app;
let browser;
let ready = false;

before(async () => {
  app = await startProgram(makeFolder({ bank: verdictBank() }));
  ready = await judgeReady(app);
  browser = await launchBrowser();
});
after(async () => {
  await browser?.close();
  await app?.stop();
});

async function open(t, viewport) {
  if (!ready) { t.skip('the program does not judge yet'); return null; }
  return openPage(browser, app.url, { viewport });
}

// Opens the exercise, runs the code and waits for the new verdict.
async function run(page, id, code, how = '#submit') {
  await page.click(`.exercise-item[data-id="${id}"]`);
  await setCode(page, code);
  await page.evaluate(() => { const r = document.querySelector('#result'); if (r) r.replaceChildren(); });
  await page.click(how);
  await page.waitForSelector('#result .verdict-head, #result .verdict-error', { timeout: 60000 });
  return {
    title: await page.textContent('.verdict-status'),
    score: await page.$eval('.verdict-score', (e) => e.textContent).catch(() => ''),
    exits: await page.$$eval('.case-row td.exit', (c) => c.map((x) => x.textContent)),
    detail: await page.$eval('.case-detail:not([hidden])', (e) => e.textContent).catch(() => ''),
  };
}

const main = (body) => `#include <stdio.h>\nint main(void)\n{\n${body}\n}\n`;

test('the headline names the first failure, where it is and why', async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, problems } = opened;
  const cases = [
    // code, headline, score, exit codes shown, words in the open case, words that must not be there
    [main('    int a, b;\n    volatile int z = 0;\n    if (scanf("%d %d", &a, &b) != 2) return 1;\n    printf("部分\\n");\n    fflush(stdout);\n    printf("%d\\n", a / z);\n    return 0;'),
      '运行错误 · 第 1 个测试点 · 整数除以 0', '未通过（0/4）', null, ['崩溃前', '部分', 'SIGFPE'], ['printf']],
    [main('    for (;;) {}'), '超时 · 第 1 个测试点', '未通过（0/4）', ['被停止', '被停止', '—', '—'], ['被停下之前', '（程序没有输出）'], ['printf', '退出码']],
    [main('    int a, b;\n    if (scanf("%d %d", &a, &b) != 2) return 1;\n    printf("%d\\n", a + b);\n    return 3;'),
      '运行错误 · 第 1 个测试点 · 输出正确，但退出码是 3', '未通过（0/4）', ['3', '3', '3', '3'], ['return 0'], []],
    [main('    int a, b;\n    if (scanf("%d %d", &a, &b) != 2) return 1;\n    printf("%d\\n", a == 5 ? 0 : a + b);\n    return 0;'),
      '答案错误 · 第 2 个测试点 · 第 1 行不同', '部分通过 3/4', ['0', '0', '0', '0'], ['第一处不同'], []],
  ];
  for (const [code, title, score, exits, words, not] of cases) {
    const v = await run(page, 'sum', code);
    assert.equal(v.title, title);
    assert.equal(v.score, score, title);
    if (exits) assert.deepEqual(v.exits, exits, title);
    for (const w of words) assert.ok(v.detail.includes(w), `${title}: "${w}" in ${v.detail}`);
    for (const w of not) assert.ok(!v.detail.includes(w), `${title}: no "${w}" in ${v.detail}`);
    if (title.startsWith('超时')) await screenshots(page, 'verdict-timeout');
    if (title.startsWith('运行错误 · 第 1 个测试点 · 整数')) await screenshots(page, 'verdict-crash');
  }
  // A crash on Linux shows no Windows code and the other way round, but never 1 for a killed run.
  assert.deepEqual(problems, []);
  await page.close();
});

test('passing samples invite the full submission; a pass offers the next exercise', async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, problems } = opened;
  const v = await run(page, 'sum', SUM_REFERENCE, '#run-samples');
  assert.equal(v.title, '样例通过 1/1');
  assert.match(await page.textContent('.verdict-actions'), /再点“提交”用全部测试点检验/);
  await page.click('#verdict-submit');
  await page.waitForSelector('.verdict-status:has-text("全部通过 4/4")', { timeout: 60000 });
  await page.click('#next-exercise');
  const now = await page.getAttribute('.exercise-item[aria-current="true"]', 'data-id');
  assert.notEqual(now, 'sum');
  assert.equal(now, 'max2', 'the next exercise in the list that is not passed');
  assert.deepEqual(problems, []);
  await page.close();
});

test('the output view: line by line, gutter apart from the text, long tokens cut, empty and NUL named', async (t) => {
  for (const viewport of [{ width: 1366, height: 768 }, { width: 1920, height: 1080 }]) {
    const opened = await open(t, viewport);
    if (!opened) return;
    const { page, problems } = opened;
    const tag = `${viewport.width}x${viewport.height}`;

    // An extra line: the other lines stay paired.
    let v = await run(page, 'greet', main('    printf("Yes\\nDEBUG x=3\\nDone\\n");\n    return 0;'));
    assert.equal(v.title, '答案错误 · 第 1 个测试点 · 多了第 2 行');
    const rows = await page.$$eval('.case-detail:not([hidden]) .diff-table tbody tr', (r) => r.map((x) => x.className.replace(' first-diff', '')));
    assert.deepEqual(rows, ['row-same', 'row-extra', 'row-same']);
    const table = page.locator('.case-detail:not([hidden]) .diff-table tbody');
    assert.equal(await table.evaluate((b) => /\d/.test(b.innerText.replace('x=3', ''))), false, 'line numbers are not part of the text');
    assert.equal(await page.$eval('.case-detail:not([hidden]) .diff-table td.ln[data-n="2"]', (td) => getComputedStyle(td, '::before').content), '"2"');
    assert.equal(await page.$eval('.case-detail:not([hidden]) .diff-table td.ln[data-n="2"]', (td) => getComputedStyle(td).userSelect), 'none');

    // A 3000-digit token stays inside the pane.
    v = await run(page, 'greet', main('    int i;\n    for (i = 0; i < 3000; i++) putchar(\'9\');\n    printf("\\nDone\\n");\n    return 0;'));
    assert.ok(await page.isVisible('.case-detail:not([hidden]) .cut'));
    const widths = await page.$eval('.case-detail:not([hidden]) .diff-scroll', (s) => [s.scrollWidth, s.clientWidth]);
    assert.ok(widths[0] <= widths[1] + 1, `no sideways scrolling in the diff: ${widths}`);
    const result = await page.$eval('#result', (r) => [r.scrollWidth, r.clientWidth]);
    assert.ok(result[0] <= result[1] + 1, `the result pane does not grow sideways: ${result}`);
    await page.screenshot({ path: join(SHOTS, `verdict-long-token-${tag}.png`) });

    // No output at all.
    v = await run(page, 'greet', main('    return 0;'));
    assert.equal(v.title, '答案错误 · 第 1 个测试点 · 没有输出');
    assert.equal(await page.textContent('.case-detail:not([hidden]) .empty-output'), '（程序没有输出）');

    // A NUL byte is named.
    v = await run(page, 'greet', main('    printf("Yes%cDone\\n", 0);\n    return 0;'));
    assert.ok(await page.isVisible('.case-detail:not([hidden]) .nul'));
    assert.match(await page.textContent('.case-detail:not([hidden]) .nul-note'), /空字符 NUL/);

    // A difference far down: scrolled into view with context, and a jump back to it.
    v = await run(page, 'count', '#include <stdio.h>\nint main(void)\n{\n    int n, i;\n    if (scanf("%d", &n) != 1) return 1;\n    for (i = 1; i <= n; i++) printf("%d\\n", i >= 45 ? i * 10 : i);\n    return 0;\n}\n');
    assert.equal(v.title, '答案错误 · 第 1 个测试点 · 第 45 行不同');
    const inView = () => page.$eval('.case-detail:not([hidden]) .diff-scroll', (s) => {
      const row = s.querySelector('.first-diff').getBoundingClientRect();
      const box = s.getBoundingClientRect();
      return s.scrollTop > 0 && row.top >= box.top && row.bottom <= box.bottom;
    });
    await waitFor(inView, 5000, 'the first difference in view');
    assert.ok(await page.$eval('.case-detail:not([hidden]) .first-diff', (r) => r.previousElementSibling?.className === 'row-same'), 'context above it');
    await page.$eval('.case-detail:not([hidden]) .diff-scroll', (s) => { s.scrollTop = 0; });
    await page.click('.case-detail:not([hidden]) .jump-diff');
    await waitFor(inView, 5000, 'the jump to the first difference');
    await page.screenshot({ path: join(SHOTS, `verdict-diff-${tag}.png`) });
    assert.deepEqual(problems, []);
    await page.close();
  }
});

test('beginner mistakes are named with their real fix', async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, problems } = opened;
  let v = await run(page, 'hello', main('    printf("Hello，World！\\n");\n    return 0;'));
  assert.match(await page.textContent('.case-detail:not([hidden]) .diff-note'), /中文全角标点 “，”“！”/);
  assert.doesNotMatch(v.detail, /提示文字/);

  v = await run(page, 'avg', main('    int a, b;\n    double avg;\n    if (scanf("%d %d", &a, &b) != 2) return 1;\n    avg = (a + b) / 2;\n    printf("%.2f\\n", avg);\n    return 0;'));
  assert.match(await page.textContent('.case-detail:not([hidden]) .diff-note'), /可能发生了整数除法/);

  v = await run(page, 'sum', main('    int a, b;\n    scanf("%d %d", a, b);\n    printf("%d\\n", a + b);\n    return 0;'));
  const hints = await page.$$eval('.diag-hint', (h) => h.map((x) => x.textContent).join('\n'));
  assert.match(hints, /漏写了 &/);
  assert.doesNotMatch(hints, /初始值/);

  v = await run(page, 'sum', '#include <stdio.h>\nvoid main(void)\n{\n    printf("3\\n");\n}\n');
  assert.match(v.title, /^编译错误/);
  assert.match(await page.textContent('.diag-first'), /int main\(void\)/);

  v = await run(page, 'sum', main('    int big[10000000];\n    int a, b;\n    if (scanf("%d %d", &a, &b) != 2) return 1;\n    big[9999999] = a + b;\n    big[0] = big[9999999];\n    printf("%d\\n", big[0]);\n    return 0;'));
  assert.match(v.title, /^运行错误 · 第 1 个测试点/);
  assert.match(await page.textContent('.case-detail:not([hidden]) .big-array'), /第 4 行的局部数组 big 很大（约 38\.1 MB）/);
  assert.deepEqual(problems, []);
  await page.close();
});

test('full-width punctuation in code is marked in the editor with a one-click fix; a line\'s hint is said once', async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, problems } = opened;
  await page.click('.exercise-item[data-id="greet"]');
  const code = '#include <stdio.h>\nint main(void)\n{\n    printf("Yes，Done\\n")；\n    return 0;\n}\n';
  await setCode(page, code);
  await page.waitForSelector('.cm-lintRange-error', { timeout: 5000 });
  assert.equal(await page.locator('.cm-lintRange-error').count(), 1, 'the comma inside the string is left alone');
  await page.hover('.cm-lintRange-error');
  await page.waitForSelector('.cm-tooltip-lint .cm-diagnosticAction', { timeout: 5000 });
  assert.match(await page.textContent('.cm-tooltip-lint'), /中文全角符号/);
  await page.screenshot({ path: join(SHOTS, 'editor-fullwidth-fix-1366x768.png') });
  await page.click('.cm-tooltip-lint .cm-diagnosticAction');
  assert.equal(await editorText(page), code.replace('；', ';'));

  // The compiler's complaint about it: one hint on the line's mark, not one per message.
  await setCode(page, code);
  await page.click('#submit');
  await page.waitForSelector('.verdict-compile_error', { timeout: 60000 });
  // The editor takes the compiler's marks with the verdict; hover until the line's tip has them
  // (on a busy machine the tooltip can take its time, so each try waits for it to be drawn).
  const tip = await waitFor(async () => {
    await page.mouse.move(0, 0);
    await page.locator('.cm-tooltip-hover').waitFor({ state: 'detached', timeout: 10000 }).catch(() => {});
    await page.hover('.cm-gutter-lint .cm-lint-marker-error');
    const text = await page.waitForSelector('.cm-tooltip', { timeout: 10000 }).then((t) => t.textContent()).catch(() => '');
    return text.includes('stray') ? text : null;
  }, 90000, 'the compiler\'s marks in the editor');
  assert.equal(tip.split('代码里有中文符号').length - 1, 1, tip);
  assert.deepEqual(problems, []);
  await page.close();
});

test('tips about the code as written come once per exercise, below the result', async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, problems } = opened;
  const bare = main('    int a, b;\n    scanf("%d %d", &a, &b);\n    printf("%.2f\\n", (a + b) / 2.0);\n    return 0;');
  await run(page, 'avg', bare);
  assert.match(await page.textContent('.suggestions > ul'), /让输入处理更稳健/);
  const below = await page.$eval('.suggestions', (s) => !!(document.querySelector('.case-section').compareDocumentPosition(s) & Node.DOCUMENT_POSITION_FOLLOWING));
  assert.ok(below, 'advice comes after the cases');
  await run(page, 'avg', bare);
  assert.doesNotMatch(await page.textContent('.suggestions > ul'), /让输入处理更稳健/);
  assert.match(await page.textContent('.suggestions .seen-tips'), /让输入处理更稳健/);
  await waitFor(() => (app.readState()?.records?.avg?.tips || []).includes('让输入处理更稳健'), 10000, 'the seen tip saved');
  assert.deepEqual(problems, []);
  await page.close();
});

test('while judging the page names the running case, and the learner can stop it', async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, problems } = opened;
  const idle = await app.api('/api/judge/progress');
  assert.deepEqual(idle.data, { running: false, case: 0, total: 0, stopping: false });
  const attempts = app.readState()?.records?.sum?.attempts ?? 0;
  await page.click('.exercise-item[data-id="sum"]');
  // Every case takes about 0.6 s of computing before it answers.
  await setCode(page, '#include <stdio.h>\n#include <time.h>\nint main(void)\n{\n    int a, b;\n    clock_t t = clock();\n    while (clock() - t < CLOCKS_PER_SEC * 6 / 10) {}\n    if (scanf("%d %d", &a, &b) != 2) return 1;\n    printf("%d\\n", a + b);\n    return 0;\n}\n');
  await page.evaluate(() => document.querySelector('#result').replaceChildren());
  await page.click('#submit');
  await waitFor(async () => /第 [12]\/4 个测试点/.test(await page.textContent('#judge-where').catch(() => '')), 30000, 'the running case named');
  assert.ok(await page.isVisible('#stop-judge'));
  await page.screenshot({ path: join(SHOTS, 'judging-progress-1366x768.png') });
  await page.click('#stop-judge');
  await page.waitForSelector('.verdict-head', { timeout: 30000 });
  const title = await page.textContent('.verdict-status');
  const ran = Number(/^已停止 · 运行了 (\d)\/4 个测试点$/.exec(title)?.[1]);
  assert.ok(ran >= 1 && ran < 4, title);
  const rows = await page.$$eval('.case-row .case-status', (r) => r.map((x) => x.textContent));
  assert.deepEqual(rows.slice(ran), Array(4 - ran).fill('没有运行'));
  assert.equal(await page.isVisible('#stop-judge'), false);
  await page.waitForTimeout(1500);
  assert.equal(app.readState()?.records?.sum?.attempts ?? 0, attempts, 'a stopped run is not counted');
  // The next submission runs in full again.
  await setCode(page, SUM_REFERENCE);
  await page.click('#submit');
  await page.waitForSelector('.verdict-status:has-text("全部通过 4/4")', { timeout: 60000 });
  assert.deepEqual(problems, []);
  await page.close();
});
