// 自测: the learner's code on the learner's own input, through /api/run and
// through the page, under the judge's limits and sandbox.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { makeFolder, startProgram, launchBrowser, openPage, setCode, waitFor, judgeReady, SHOTS } from './harness.mjs';
import { smallBank, SUM_REFERENCE } from './fixtures.mjs';

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

const main = (body) => `#include <stdio.h>\n#include <unistd.h>\nint main(void)\n{\n${body}\n}\n`;

test('/api/run compiles and runs once on the given input, with the judge\'s limits and sandbox', async (t) => {
  if (!ready) { t.skip('the program does not judge yet'); return; }
  const cases = [
    // body, check of the answer
    [{ code: SUM_REFERENCE, input: '3 4\n' }, (a) => { assert.equal(a.compiled, true); assert.deepEqual([a.run.status, a.run.exitCode, a.run.output], ['ok', 0, '7\n']); }],
    [{ code: SUM_REFERENCE }, (a) => assert.deepEqual([a.run.status, a.run.exitCode], ['runtime_error', 1]), 'no input at all'],
    [{ code: main('    for (;;) {}') }, (a) => { assert.equal(a.run.status, 'timeout'); assert.ok(a.run.ms >= 1400, String(a.run.ms)); }],
    [{ code: main('    for (;;) printf("0123456789");') }, (a) => assert.equal(a.run.status, 'output_limit')],
    [{ code: main('    printf("%d\\n", (int)fork());\n    return 0;') }, (a) => assert.deepEqual([a.run.status, a.run.output], ['ok', '-1\n']), 'no new processes'],
    [{ code: main('    printf("a%cb", 0);\n    return 0;') }, (a) => assert.deepEqual([a.run.nul, a.run.output], [true, 'a?b'])],
    [{ code: '#include <iostream>\nint main() { int a; std::cin >> a; std::cout << a * 2 << "\\n"; }\n', lang: 'cpp', input: '21' },
      (a) => assert.equal(a.run.output, '42\n')],
    [{ code: 'int main(void) { return 0 }' }, (a) => { assert.equal(a.compiled, false); assert.match(a.diagnostics, /error/); assert.equal(a.run, undefined); }],
    [{ code: 'x'.repeat(64001) }, (a) => assert.match(a.error, /代码超过 64 KB/)],
    [{ code: SUM_REFERENCE, input: '1 '.repeat(40000) }, (a) => assert.match(a.error, /输入超过 64 KB/)],
    [{ input: '1' }, (a) => assert.match(a.error, /自测请求格式错误/)],
  ];
  for (const [body, check, what] of cases) {
    const { status, data } = await app.api('/api/run', { method: 'POST', body });
    assert.equal(status, 200);
    check(data, what);
  }
  // The gate holds for the new route too.
  const anonymous = await fetch(`http://${app.host}/api/run`, { method: 'POST', body: JSON.stringify({ code: SUM_REFERENCE }) });
  assert.equal(anonymous.status, 403);
  // One sandbox at a time: a run while a submission is judged is refused. The run is sent once
  // the judging is under way (a run sent first would take the judge and refuse the judging);
  // a loaded machine may let the judging end before the run arrives, so the pair is tried again.
  let refused = false;
  for (let attempt = 0; attempt < 3 && !refused; attempt++) {
    const slow = app.api('/api/judge', { method: 'POST', body: { id: 'sum', code: main('    for (;;) {}') } });
    let underWay = false;
    await waitFor(async () => (underWay = (await app.api('/api/judge/progress')).data?.running === true) ||
      (await Promise.race([slow.then(() => true), new Promise((r) => setTimeout(() => r(false), 10))])), 60000, 'the judging under way');
    if (underWay) {
      const { data } = await app.api('/api/run', { method: 'POST', body: { code: SUM_REFERENCE, input: '1 1' } });
      refused = data.error === '已有代码正在评测，请等待本次完成。';
    }
    const judged = await slow;
    assert.equal(judged.data.cases?.[0]?.status, 'timeout', JSON.stringify(judged.data).slice(0, 300));
  }
  assert.ok(refused, 'a run during a judging is refused');
});

test('in the page: a sample or a failing case goes into 自测 with one click, and the console shows the output', async (t) => {
  if (!ready) { t.skip('the program does not judge yet'); return; }
  for (const viewport of [{ width: 1366, height: 768 }, { width: 1920, height: 1080 }]) {
    const { page, problems } = await openPage(browser, app.url, { viewport });
    await page.click('.exercise-item[data-id="sum"]');
    await setCode(page, SUM_REFERENCE);
    await page.click('.try-sample');
    assert.equal(await page.getAttribute('#tab-try', 'aria-selected'), 'true');
    assert.equal(await page.inputValue('#try-input'), '1 2\n');
    await page.fill('#try-input', '40 2\n');
    await page.click('#try-run');
    await page.waitForSelector('.try-console', { timeout: 60000 });
    assert.equal(await page.textContent('.try-console'), '42\n');
    assert.match(await page.textContent('.try-status'), /程序正常结束/);
    await page.screenshot({ path: join(SHOTS, `try-${viewport.width}x${viewport.height}.png`) });

    // From a failing case of a submission.
    await setCode(page, SUM_REFERENCE.replace('a + b', 'a - b'));
    await page.click('#submit');
    await page.waitForSelector('.case-detail:not([hidden]) .try-input', { timeout: 60000 });
    await page.click('.case-detail:not([hidden]) .try-input');
    assert.equal(await page.inputValue('#try-input'), '1 2\n');
    await page.click('#try-run');
    await waitFor(async () => (await page.textContent('.try-console').catch(() => '')) === '-1\n', 60000, 'the run');

    // A program that waits for input that never comes is stopped and said so.
    await setCode(page, main('    int n;\n    while (scanf("%d", &n) != 1) {}\n    return 0;'));
    await page.fill('#try-input', '');
    await page.click('#try-run');
    await waitFor(async () => /超过 1\.5 秒/.test(await page.textContent('.try-status').catch(() => '')), 60000, 'the time-out');
    assert.equal(await page.textContent('.try-console'), '（程序没有输出）');
    assert.deepEqual(problems, []);
    await page.close();
  }
});
