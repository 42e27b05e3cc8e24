// Bank import and export through the page, and pass marks after a bank changes.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { makeFolder, startProgram, launchBrowser, openPage, runDuty, waitFor } from './harness.mjs';
import { smallBank } from './fixtures.mjs';
import { judgingBasis } from '../../web/src/lib/bank.js';

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

function passedState(bank, ids, withBasis) {
  const exercises = {};
  for (const id of ids) {
    const q = bank.questions.find((x) => x.id === id);
    exercises[id] = { drafts: { c: `/* ${id} 的草稿 */` }, attempts: 1, best: 'accepted', passDates: ['2026-01-05'],
      ...(withBasis ? { basis: judgingBasis(q) } : {}) };
  }
  return { version: 1, settings: {}, exercises };
}

async function passedIds(page) {
  return page.$$eval('.exercise-item.state-passed', (items) => items.map((i) => i.dataset.id).sort());
}

// Chooses a file; when the page shows what would change, answers with `confirm`
// and keeps the preview's text in `preview.text`.
async function importFile(page, name, content, { confirm = true, preview = {} } = {}) {
  await page.click('#nav-bank');
  await page.setInputFiles('#bank-file', { name, mimeType: 'application/json', buffer: Buffer.from(content) });
  const settled = async () => {
    if (await page.isVisible('.dialog[open]')) return 'dialog';
    const text = await page.textContent('#bank-message');
    return text && !text.startsWith('正在') ? 'message' : null;
  };
  if (await waitFor(settled, 10000, 'the preview or the result') === 'dialog') {
    preview.text = await page.textContent('.dialog[open]');
    await page.click(`.dialog[open] button:has-text("${confirm ? '替换题库' : '取消'}")`);
    await waitFor(async () => (await settled()) === 'message', 10000, 'the import result');
  }
  return page.textContent('#bank-message');
}

test('a bad bank file shows the program\'s own message and changes nothing', async () => {
  const app = await startProgram(makeFolder({ bank: smallBank() }));
  try {
    const before = readFileSync(join(app.folder, 'data', 'bank.json'), 'utf8');
    const { page, problems } = await openPage(browser, app.url);
    const noTests = smallBank();
    noTests.questions[1].tests = noTests.questions[1].tests.slice(0, 2);
    const cases = [
      ['not JSON', '{"version": 1, "questions": [', '数据不是有效的 UTF-8 JSON 对象。'],
      ['an array', '[1, 2]', '数据不是有效的 UTF-8 JSON 对象。'],
      ['another version', JSON.stringify({ ...smallBank(), version: 2 }), '题库须使用 version: 1，并包含 1～1000 道 questions。'],
      ['too few tests', JSON.stringify(noTests), '每道题需要 3～20 个 tests 测试用例。'],
      ['not UTF-8', Buffer.from([0x7b, 0x22, 0xd6, 0xd0, 0x22, 0x3a, 0x31, 0x7d]), '数据不是有效的 UTF-8 JSON 对象。'],
    ];
    for (const [what, content, message] of cases) {
      assert.equal(await importFile(page, 'bad.json', content), message, what);
      assert.match(await page.getAttribute('#bank-message', 'class'), /bank-error/);
    }
    assert.equal(readFileSync(join(app.folder, 'data', 'bank.json'), 'utf8'), before);
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    await app.stop();
  }
});

test('importing a bank keeps pass marks only where tests and comparison are unchanged', async () => {
  const old = smallBank();
  const app = await startProgram(makeFolder({ bank: old, state: passedState(old, ['sum', 'greet', 'max2'], true) }));
  try {
    const { page, problems } = await openPage(browser, app.url);
    assert.deepEqual(await passedIds(page), ['greet', 'max2', 'sum']);
    const next = smallBank('新题库');
    next.questions[0].tests[3].output = '301\n';               // sum: tests changed
    next.questions[1].compare = 'float';                        // max2: comparison changed
    next.questions[2].title = '回答“是”';                        // greet: only the text changed
    next.questions.push({ ...next.questions[0], id: 'extra', title: '新增的题' });
    // First a look at what would change; cancelling changes nothing.
    const preview = {};
    const bankBefore = readFileSync(join(app.folder, 'data', 'bank.json'), 'utf8');
    assert.equal(await importFile(page, 'next.json', JSON.stringify(next), { confirm: false, preview }), '没有导入，题库保持原样。');
    assert.match(preview.text, /新增 1 道：《新增的题》/);
    assert.match(preview.text, /有改动 3 道：《两数相加》《较大的数》《回答“是”》/);
    assert.doesNotMatch(preview.text, /删除 \d+ 道/);
    assert.match(preview.text, /失去通过标记：《两数相加》《较大的数》（/);
    assert.equal(readFileSync(join(app.folder, 'data', 'bank.json'), 'utf8'), bankBefore);

    const message = await importFile(page, 'next.json', JSON.stringify(next, null, 2));
    assert.match(message, /题库已导入：一共 4 道题。\n这些题目的测试数据变了或被删除，通过标记已清除：《两数相加》《较大的数》。/);
    await page.click('#nav-practice');
    assert.deepEqual(await passedIds(page), ['greet']);
    assert.ok(await page.isVisible('.exercise-item[data-id="extra"]'));
    await waitFor(() => app.readState()?.records?.sum && app.readState().records.sum.best !== 'accepted', 10000, 'the saved progress');
    const saved = app.readState();
    assert.equal(saved.records.greet.best, 'accepted');
    assert.equal(saved.records.max2.best, 'failed');
    assert.equal(saved.records.sum.drafts.c, '/* sum 的草稿 */', 'drafts stay');
    assert.equal(JSON.parse(readFileSync(join(app.folder, 'data', 'bank.json'), 'utf8')).title, '新题库');
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    await app.stop();
  }
});

test('after a command-line import the page carries the listed pass marks and clears the others', async () => {
  const old = smallBank();
  // Marks from before the page recorded a judging basis: only the program's list can tell.
  const folder = makeFolder({ bank: old, state: passedState(old, ['sum', 'greet'], false) });
  const next = smallBank('命令行导入');
  next.questions[0].tests[0].input = '2 1\n';
  const file = join(folder, 'package.json');
  writeFileSync(file, JSON.stringify(next));
  const duty = runDuty(folder, '--import-bank', file);
  assert.equal(duty.status, 0, duty.stderr);
  const app = await startProgram(folder);
  try {
    const { page, problems } = await openPage(browser, app.url);
    assert.deepEqual(await passedIds(page), ['greet']);
    await waitFor(() => app.readState()?.records?.sum && app.readState().records.sum.best !== 'accepted', 10000, 'the saved progress');
    assert.equal(app.readState().records.greet.basis, judgingBasis(next.questions[2]));
    // The list is handed out once; a reload keeps what was decided. The reload waits for the
    // page's last save to land, or the browser would report the save it cut short.
    await waitFor(async () => (await page.textContent('#save-state')) === '已自动保存', 20000, 'the page saved');
    await page.reload();
    await page.waitForSelector('body.ready');
    assert.deepEqual(await passedIds(page), ['greet']);
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    await app.stop();
  }
});

test('exporting the bank downloads the stored bank', async () => {
  const app = await startProgram(makeFolder({ bank: smallBank() }));
  try {
    const { page } = await openPage(browser, app.url);
    await page.click('#nav-bank');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#bank-export')]);
    assert.equal(download.suggestedFilename(), 'tavrin-bank-e2e-1.json');
    assert.equal(readFileSync(await download.path(), 'utf8'), readFileSync(join(app.folder, 'data', 'bank.json'), 'utf8'));
    await page.close();
  } finally {
    await app.stop();
  }
});
