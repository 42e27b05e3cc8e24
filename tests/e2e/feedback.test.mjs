// Feedback that must never mislead, against the real program and judge: the editor's
// marks, compiler advice, sample passes, output lost in a crash, "no output" causes,
// samples that keep their lines, the result and history after a reload, 自测 from a
// sample, and the first start.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { makeFolder, startProgram, launchBrowser, openPage, setCode, editorText, waitFor, judgeReady, SHOTS } from './harness.mjs';
import { feedbackBank, firstStartBank, SUM_REFERENCE } from './fixtures.mjs';

let app;
let browser;
let ready = false;

before(async () => {
  app = await startProgram(makeFolder({ bank: feedbackBank() }));
  ready = await judgeReady(app);
  browser = await launchBrowser();
});
after(async () => {
  await browser?.close();
  await app?.stop();
});

async function open(t, options) {
  if (!ready) { t.skip('the program does not judge yet'); return null; }
  return openPage(browser, app.url, options);
}

const JUDGED = 90000;

async function judgeNow(page, how = '#submit') {
  await page.evaluate(() => { const r = document.querySelector('#result'); if (r) r.replaceChildren(); });
  await page.click(how);
  await page.waitForSelector('#result .verdict-head, #result .verdict-error', { timeout: JUDGED });
}

const markers = (page) => page.locator('.cm-gutter-lint .cm-lint-marker').count();

test('the editor marks the latest compile at once, and a mark goes when its line changes', async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, problems } = opened;
  await page.click('.exercise-item[data-id="greet"]');
  const missing = '#include <stdio.h>\nint main(void)\n{\n    printf("Yes\\nDone\\n")\n    return 0;\n}\n';
  await setCode(page, missing);
  await judgeNow(page);
  // No keystroke after the verdict: the marks are there all the same.
  await waitFor(async () => (await markers(page)) > 0, 30000, 'compile marks without a keystroke');
  // Other code on screen: the old compile says nothing about it.
  await setCode(page, '#include <stdio.h>\nint main(void)\n{\n    printf("Yes\\nDone\\n");\n    return 0;\n}\n');
  await waitFor(async () => (await markers(page)) === 0, 30000, 'the old marks to go');
  await judgeNow(page);
  assert.match(await page.textContent('.verdict-status'), /全部通过/);
  assert.equal(await markers(page), 0);

  // A full-width semicolon: fixed with the mark's own action, nothing of the old compile stays.
  const fullWidth = '#include <stdio.h>\nint main(void)\n{\n    printf("Yes\\nDone\\n")；\n    return 0;\n}\n';
  await setCode(page, fullWidth);
  await judgeNow(page);
  assert.match(await page.textContent('.verdict-status'), /编译错误/);
  await page.waitForSelector('.cm-lintRange-error');
  await page.locator('.cm-lintRange-error').first().hover();
  await page.waitForSelector('.cm-tooltip-lint .cm-diagnosticAction', { timeout: 30000 });
  await page.click('.cm-tooltip-lint .cm-diagnosticAction');
  assert.equal(await editorText(page), fullWidth.replace('；', ';'));
  await waitFor(async () => (await markers(page)) === 0, 30000, 'no mark on the fixed line');

  // A mark elsewhere moves with an edit above it and stays.
  await setCode(page, missing);
  await judgeNow(page);
  await waitFor(async () => (await markers(page)) > 0, 30000, 'compile marks');
  await page.click('.cm-line >> nth=0');
  await page.keyboard.press('Home');
  await page.keyboard.type('// 注释\n');
  await page.mouse.move(0, 0);
  const line = await waitFor(async () => page.evaluate(() => {
    const m = document.querySelector('.cm-gutter-lint .cm-lint-marker-error');
    if (!m) return 0;
    const top = m.getBoundingClientRect().top;
    const lines = [...document.querySelectorAll('.cm-gutter.cm-lineNumbers .cm-gutterElement')].filter((g) => g.textContent);
    const hit = lines.find((g) => Math.abs(g.getBoundingClientRect().top - top) < 4);
    return hit ? Number(hit.textContent) : 0;
  }), 30000, 'the moved mark');
  assert.equal(line, 5, 'the mark follows its line down');
  assert.deepEqual(problems, []);
  await page.close();
});

// code, headline, the first error's advice: compiled by the judge, read in the page.
const ADVICE = [
  ['#include <stdio.h>\nint main(void)\n{\n    int a = 1\n    int b = 2;\n    printf("%d\\n", a + b);\n    return 0;\n}\n', /编译错误 · 第 4 行/, /第 4 行末尾可能少了分号/],
  ['#include <stdio.h>\nint main(void)\n{\n    for (int i = 0; i < 3; i++) {\n        int sum = i;\n    }\n    printf("%d", sum);\n    return 0;\n}\n', /编译错误 · 第 7 行/, /sum 在第 5 行定义过/],
  ['#include <stdio.h>\nint main(void)\n{\n    return 0;\n}\n}\n', /编译错误 · 第 6 行/, /} 多了/],
];

test('compiler advice in the result: the line that lacks the semicolon, scope, an extra brace', async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, problems } = opened;
  await page.click('.exercise-item[data-id="sum"]');
  let shot = true;
  for (const [code, title, hint] of ADVICE) {
    await setCode(page, code);
    await judgeNow(page);
    if (shot) {
      for (const viewport of [{ width: 800, height: 600 }, { width: 1366, height: 768 }]) {
        await page.setViewportSize(viewport);
        // A narrow window puts the list in its drawer; the picture waits until it has slid away.
        await page.waitForFunction(() => getComputedStyle(document.querySelector('#exercise-sidebar')).visibility === 'visible'
          ? getComputedStyle(document.querySelector('#exercise-sidebar')).transform === 'none'
          : true);
        await page.screenshot({ path: join(SHOTS, `advice-semicolon-${viewport.width}x${viewport.height}.png`) });
      }
      shot = false;
    }
    assert.match(await page.textContent('.verdict-status'), title, code);
    const first = await page.textContent('.diag-first');
    assert.match(first, hint, code);
    assert.doesNotMatch(first, /忘了/, code);
  }
  assert.deepEqual(problems, []);
  await page.close();
});

test('passing the samples says so, and that the tests are still to come', async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page } = opened;
  await page.click('.exercise-item[data-id="sum"]');
  await setCode(page, SUM_REFERENCE);
  await judgeNow(page, '#run-samples');
  const advice = await page.textContent('.suggestions');
  assert.match(advice, /样例通过了/);
  assert.match(advice, /提交/);
  assert.doesNotMatch(advice, /已通过当前全部测试/);
  await judgeNow(page);
  assert.match(await page.textContent('.suggestions'), /已通过当前全部测试/);
  await page.close();
});

// A program that prints and then divides by zero: what the learner is told about the output.
const CRASHES = [
  { name: 'prompt left in the buffer', flush: '', lost: true },
  { name: 'prompt flushed before the crash', flush: '    fflush(stdout);\n', lost: false },
];

test('output before a crash: shown when it left the program, explained when it was lost', async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, problems } = opened;
  await page.click('.exercise-item[data-id="sum"]');
  for (const c of CRASHES) {
    const code = `#include <stdio.h>\nint main(void)\n{\n    int a, b;\n    printf("请输入两个数：\\n");\n${c.flush}    if (scanf("%d %d", &a, &b) != 2) return 1;\n    printf("%d\\n", a / (a - a));\n    return 0;\n}\n`;
    await setCode(page, code);
    await page.click('#tab-try');
    await page.fill('#try-input', '1 2\n');
    await page.click('#try-run');
    await page.waitForSelector('#try-result .try-status', { timeout: JUDGED });
    const said = await page.textContent('#try-result');
    assert.match(said, /异常结束/, c.name);
    if (c.lost) {
      assert.match(said, /fflush\(stdout\)/, c.name);
      assert.match(said, /缓冲区/, c.name);
    } else {
      assert.match(await page.textContent('#try-result .try-console'), /请输入两个数/, c.name);
      assert.equal(await page.locator('#try-result .lost-output').count(), 0, c.name);
    }
    await judgeNow(page);
    const detail = await page.textContent('.case-detail:not([hidden])');
    if (c.lost) {
      await page.screenshot({ path: join(SHOTS, 'verdict-lost-output-1366x768.png') });
      assert.match(detail, /程序崩溃前没有留下输出/, c.name);
      assert.doesNotMatch(detail, /下面是程序崩溃前已经输出的内容/, c.name);
    } else {
      assert.match(detail, /下面是程序崩溃前已经输出的内容/, c.name);
      assert.match(detail, /请输入两个数/, c.name);
    }
  }
  assert.deepEqual(problems, []);
  await page.close();
});

test('no output from code that prints is not "forgot printf"; a run\'s own evidence heads the verdict', async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, problems } = opened;
  await page.click('.exercise-item[data-id="sum"]');
  const early = '#include <stdio.h>\nint main(void)\n{\n    int a[10], n, i;\n    if (scanf("%d", &n) != 1) return 1;\n    if (n > 0) return 0;\n    for (i = 0; i < n; i++) a[i] = i;\n    printf("%d\\n", a[0]);\n    return 0;\n}\n';
  await setCode(page, early);
  await judgeNow(page);
  assert.match(await page.textContent('.verdict-status'), /答案错误 · 第 1 个测试点 · 没有输出/);
  const note = await page.textContent('.case-detail:not([hidden]) .diff-note');
  assert.doesNotMatch(note, /printf/);
  assert.match(note, /出了错或提前结束/);

  // The judge may add what the run itself showed; the page puts it first, its line linked.
  await page.route('**/api/judge', async (route) => {
    const response = await route.fetch();
    const verdict = await response.json();
    if (Array.isArray(verdict.cases) && verdict.cases.length) {
      verdict.evidence = { kind: 'bounds', line: 7, text: '    for (i = 0; i < n; i++) a[i] = i;', message: '第 7 行：a[i] 越界：下标 10，数组 a 只有 10 个元素，合法下标是 0 到 9。<img src=x>' };
    }
    await route.fulfill({ response, json: verdict });
  });
  await judgeNow(page);
  assert.match(await page.textContent('.verdict-status'), /第 7 行数组下标越界/);
  assert.match(await page.textContent('#evidence'), /第 7 行：a\[i\] 越界/);
  assert.doesNotMatch(await page.textContent('#evidence'), /第 7 行：第 7 行/);
  assert.match(await page.textContent('#evidence'), /<img src=x>/, 'text stays text');
  assert.equal(await page.locator('#evidence img').count(), 0);
  const order = await page.evaluate(() => {
    const ev = document.querySelector('#evidence');
    const advice = document.querySelector('.suggestions');
    return !!(ev && advice && (ev.compareDocumentPosition(advice) & Node.DOCUMENT_POSITION_FOLLOWING));
  });
  assert.ok(order, 'evidence above the general advice');
  await page.click('#evidence .evidence-line');
  const cursorLine = await page.evaluate(() => document.querySelector('.cm-activeLineGutter')?.textContent);
  assert.equal(cursorLine, '7');
  await page.unroute('**/api/judge');
  assert.deepEqual(problems, []);
  await page.close();
});

test('a sample keeps its lines: a long one scrolls instead of wrapping', async (t) => {
  const opened = await open(t, { viewport: { width: 1366, height: 768 } });
  if (!opened) return;
  const { page } = opened;
  await page.click('.exercise-item[data-id="wide"]');
  const box = page.locator('.sample pre.io').nth(1);
  const shape = await box.evaluate((pre) => ({
    white: getComputedStyle(pre).whiteSpace, scroll: pre.scrollWidth > pre.clientWidth,
    height: pre.clientHeight, line: parseFloat(getComputedStyle(pre).lineHeight),
  }));
  assert.equal(shape.white, 'pre');
  assert.ok(shape.scroll, 'the long line scrolls sideways');
  assert.ok(shape.height < shape.line * 2 + 40, `one line high (${shape.height}px)`);
  await page.screenshot({ path: join(SHOTS, 'sample-long-line-1366x768.png') });
  await page.close();
});

test('after a reload the result tab and the history say which verdict and which case', async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page } = opened;
  await page.click('.exercise-item[data-id="sum"]');
  await setCode(page, SUM_REFERENCE.replace('a + b', 'a + b + (a == 5)'));
  await judgeNow(page);
  assert.match(await page.textContent('.verdict-status'), /答案错误 · 第 2 个测试点/);
  await waitFor(() => app.readState()?.records?.sum?.history?.length > 0, 15000, 'the history saved');
  await page.reload();
  await page.waitForSelector('body.ready');
  assert.equal(await page.textContent('.st-title'), '两数相加');
  assert.ok(await page.isVisible('#result-badge'), 'the result tab shows there is a result');
  await page.click('#tab-result');
  assert.match(await page.textContent('#result .verdict-status'), /答案错误 · 第 2 个测试点 · 部分通过 3\/4/);
  await page.click('#tab-history');
  assert.match(await page.textContent('.history-item .history-result'), /答案错误 · 第 2 个测试点/);
  await page.close();
});

test('自测 from a sample runs at once and replaces the previous result', async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page } = opened;
  await page.click('.exercise-item[data-id="sum"]');
  await setCode(page, SUM_REFERENCE);
  await page.click('#tab-try');
  await page.fill('#try-input', '40 2\n');
  await page.click('#try-run');
  await waitFor(async () => /42/.test(await page.textContent('#try-result')), JUDGED, 'the first run');
  await page.click('#tab-statement');
  await page.click('.try-sample');
  assert.equal(await page.inputValue('#try-input'), '1 2\n');
  assert.doesNotMatch(await page.textContent('#try-result'), /42/, 'the old result is gone at once');
  await waitFor(async () => (await page.textContent('#try-result .try-console').catch(() => '')).trim() === '3', JUDGED, 'the sample run without pressing 运行');
  await page.close();
});

test('first start opens the first C exercise of topic 1, saying where to begin', async () => {
  const first = await startProgram(makeFolder({ bank: firstStartBank() }));
  try {
    const { page, problems } = await openPage(browser, first.url);
    assert.equal(await page.textContent('.st-title'), '回答是');
    assert.match(await page.textContent('#start-here'), /从这里开始/);
    assert.equal(await page.title(), 'Tavrin 练习室');
    await page.click('.exercise-item[data-id="sum"]');
    await waitFor(() => first.readState()?.settings?.last === 'sum', 15000, 'the open exercise saved');
    await page.reload();
    await page.waitForSelector('body.ready');
    assert.equal(await page.textContent('.st-title'), '两数相加', 'later starts continue where the learner was');
    assert.equal(await page.locator('#start-here').count(), 0);
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    await first.stop();
  }
});
