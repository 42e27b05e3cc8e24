// The headline and the empty-output note when the judge traced a failure to a line.
import { test } from 'node:test';
import assert from 'node:assert/strict';

const { headline } = await import('../../web/src/lib/summary.js');
const { firstDifference } = await import('../../web/src/lib/diff.js');

const evidence = { kind: 'bounds', line: 7, text: 'c.seen[i] = 0;', message: '第 7 行：seen[i] 越界：下标 4，数组 seen 只有 4 个元素，合法下标是 0 到 3。' };
const verdict = (c, withEvidence = true) => ({
  status: 'failed', passed: 0, total: 1, cases: [{ index: 1, expected: '3\n', exitCode: 0, ...c }],
  ...(withEvidence ? { evidence } : {}),
});

const rows = [
  { name: 'no output after an overwrite', c: { status: 'wrong_answer', actual: '' }, title: '答案错误 · 第 1 个测试点 · 第 7 行数组下标越界' },
  { name: 'output cut short', c: { status: 'wrong_answer', actual: '', expected: '3\n4\n' }, title: '答案错误 · 第 1 个测试点 · 第 7 行数组下标越界' },
  { name: 'a crash keeps the name of its exit code', c: { status: 'runtime_error', actual: '', exitCode: 139 }, title: '运行错误 · 第 1 个测试点 · 内存访问越界' },
  { name: 'a different answer keeps its own cause', c: { status: 'wrong_answer', actual: '4\n' }, title: '答案错误 · 第 1 个测试点 · 第 1 行不同' },
  { name: 'no evidence: no output as before', c: { status: 'wrong_answer', actual: '' }, bare: true, title: '答案错误 · 第 1 个测试点 · 没有输出' },
];

for (const r of rows) {
  test(r.name, () => {
    assert.equal(headline(verdict(r.c, !r.bare)).title, r.title);
  });
}

test('the empty-output note follows the evidence, not a forgotten printf', () => {
  const traced = firstDifference('3\n', '', 'tokens', { evidence });
  assert.equal(traced.kind, 'empty');
  assert.ok(traced.note.includes(evidence.message) && !traced.note.includes('printf'), traced.note);
  assert.ok(firstDifference('3\n', '', 'tokens').note.includes('printf'));
});
