// The page's own reasoning, without a browser: the line view of two outputs,
// the verdict headline, beginner diagnoses and the source scans behind them.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { lineDiff, foldRows, shorten, splitLines } from '../../web/src/lib/linediff.js';
import { firstDifference } from '../../web/src/lib/diff.js';
import { headline, nulSuspect } from '../../web/src/lib/summary.js';
import { hintsFor, parseDiagnostics } from '../../web/src/lib/diagnostics.js';
import { fullWidthInCode, bigLocalArrays, hasVoidMain, hasLoop } from '../../web/src/lib/codecheck.js';
import { explainExit } from '../../web/src/lib/exitcodes.js';

const kinds = (d) => d.rows.map((r) => `${r.kind[0]}${r.e}:${r.a}`).join(' ');

test('line view: same, changed, missing and extra lines, aligned', () => {
  const cases = [
    // expected, actual, rows as kind-initial expected:actual
    ['1\n2\n3\n', '1\n2\n3\n', 's1:1 s2:2 s3:3'],
    ['1\n2\n3\n', '1\n3\n', 's1:1 m2:0 s3:2'],
    ['1\n2\n', '1\nDEBUG\n2\n', 's1:1 e0:2 s2:3'],
    ['1\n2\n3\n', '1\n5\n3\n', 's1:1 c2:2 s3:3'],
    ['a\nb\n', '', 'm1:0 m2:0'],
    ['', 'x\n', 'e0:1'],
    // Layout inside a line and CRLF are not differences.
    ['1 2\n3\n', '1  2 \r\n3', 's1:1 s2:2'],
    // A line missing near the top and one added at the end.
    ['h\n1\n2\n3\n', 'h\n2\n3\nx\n', 's1:1 m2:0 s3:2 s4:3 e0:4'],
  ];
  for (const [e, a, want] of cases) assert.equal(kinds(lineDiff(e, a)), want, JSON.stringify([e, a]));
  assert.equal(kinds(lineDiff('0.5\n', '0.5000004\n', 'float')), 's1:1');
  assert.equal(kinds(lineDiff('0.5\n', '0.5000004\n', 'tokens')), 'c1:1');
  assert.deepEqual(splitLines(''), []);
  assert.deepEqual(splitLines('a\r\nb'), ['a', 'b']);
});

test('line view: outputs too large to align exactly still pair up line by line', () => {
  const e = Array.from({ length: 3000 }, (_, i) => String(i)).join('\n');
  const a = Array.from({ length: 3000 }, (_, i) => String(i === 1500 ? -1 : i)).join('\n');
  const d = lineDiff(e, a);
  assert.equal(d.rows.length, 3000);
  assert.deepEqual(d.rows.filter((r) => r.kind !== 'same'), [{ kind: 'changed', e: 1501, a: 1501 }]);
  const big = Array.from({ length: 2500 }, (_, i) => `x${i}`).join('\n');
  const other = Array.from({ length: 2500 }, (_, i) => `y${i}`).join('\n');
  const rows = lineDiff(big, other).rows;
  assert.equal(rows.length, 2500);
  assert.ok(rows.every((r) => r.kind === 'changed'));
});

test('line view: runs of equal lines fold, keeping context by every difference', () => {
  const rows = [...Array(20)].map((_, i) => ({ kind: i === 10 ? 'changed' : 'same', e: i + 1, a: i + 1 }));
  const folded = foldRows(rows, 2);
  assert.deepEqual(folded.map((r) => (r.kind === 'fold' ? `fold${r.count}` : r.e)), ['fold8', 9, 10, 11, 12, 13, 'fold7']);
  const many = [...Array(1000)].map((_, i) => ({ kind: 'changed', e: i + 1, a: i + 1 }));
  const cut = foldRows(many, 3, 100);
  assert.equal(cut.length, 101);
  assert.deepEqual(cut[100], { kind: 'fold', count: 900, end: true });
});

test('a 3000-digit token is shown by its two ends', () => {
  const digits = '7'.repeat(2990) + '1234567890';
  const s = shorten(digits, 160);
  assert.equal(s.cut, 3000 - 160);
  assert.ok(s.head.length + s.tail.length === 160);
  assert.ok(s.tail.endsWith('1234567890'));
  assert.deepEqual(shorten('short'), { text: 'short', cut: 0 });
  // Characters outside the BMP are never split.
  assert.equal(shorten('😀'.repeat(200), 10).head, '😀'.repeat(6));
});

test('beginner diagnoses of a wrong output', () => {
  const loop = 'for (int i = 0; i <= n; i++) s += i;';
  const cases = [
    // expected, actual, code, kind, words in the note, words that must not be there
    ['Hello, World!\n', 'Hello，World！\n', '', 'fullwidth', '中文全角标点 “，”“！”', '提示文字'],
    ['a,b\n', 'a，b\n', '', 'fullwidth', '“，”', null],
    ['7\n', '请输入两个数：7\n', '', 'prompt', '提示文字', null],
    ['2.50\n', '2.00\n', '', 'number', '整数除法', null],
    ['3.5\n', '3\n', '', 'number', '整数除法', null],
    ['12\n', '0.000000\n', '', 'number', '%f 输出了 int', null],
    ['2.50\n', '1717986918\n', '', 'number', '%d 输出了 double', null],
    ['3\n', '3.000000\n', '', 'number', '%d', null],
    ['10\n', '11\n', loop, 'number', '数值差 1', null],
    ['10\n', '11\n', 'printf("%d", a + b + 1);', 'number', '数值不同', '数值差 1'],
    ['Yes\n', 'yes\n', '', 'case', '大小写', null],
  ];
  for (const [e, a, code, kind, words, not] of cases) {
    const d = firstDifference(e, a, 'tokens', { code });
    const label = JSON.stringify([e, a, code]);
    assert.equal(d.kind, kind, `${label}: ${d.note}`);
    assert.ok(d.note.includes(words), `${label}: ${d.note}`);
    if (not) assert.ok(!d.note.includes(not), `${label}: ${d.note}`);
  }
});

const v = (status, cases, extra = {}) => ({
  compiled: status !== 'compile_error', diagnostics: '', compileMs: 100, status,
  passed: cases.filter((c) => c.status === 'passed').length, total: cases.length, cases, suggestions: [], ...extra,
});
const ok = (index) => ({ index, status: 'passed', ms: 1, exitCode: 0, input: '', expected: '1\n', actual: '1\n' });

test('the headline names the first failure and where', () => {
  const cases = [
    [v('failed', [{ index: 1, status: 'runtime_error', ms: 3, exitCode: 136, input: '', expected: '1\n', actual: '' }, ok(2)]), 'tests',
      '运行错误 · 第 1 个测试点 · 整数除以 0', '部分通过 1/2'],
    [v('failed', [{ index: 1, status: 'runtime_error', ms: 3, exitCode: 3221225620, input: '', expected: '1\n', actual: '' }]), 'tests',
      '运行错误 · 第 1 个测试点 · 整数除以 0', '未通过（0/1）'],
    [v('failed', [ok(1), ok(2), { index: 3, status: 'timeout', ms: 1500, exitCode: 1, input: '', expected: '1\n', actual: '' }, ok(4), ok(5)]), 'tests',
      '超时 · 第 3 个测试点', '部分通过 4/5'],
    [v('failed', [ok(1), { index: 2, status: 'wrong_answer', ms: 2, exitCode: 0, input: '', expected: 'a\nb\nc\n', actual: 'a\nb\nd\n' }]), 'tests',
      '答案错误 · 第 2 个测试点 · 第 3 行不同', '部分通过 1/2'],
    [v('failed', [{ index: 1, status: 'wrong_answer', ms: 2, exitCode: 0, input: '', expected: 'a\nb\n', actual: 'a\n' }]), 'sample',
      '答案错误 · 第 1 个样例 · 少了第 2 行', '未通过（0/1）'],
    [v('failed', [{ index: 1, status: 'wrong_answer', ms: 2, exitCode: 0, input: '', expected: 'a\n', actual: '' }]), 'tests',
      '答案错误 · 第 1 个测试点 · 没有输出', '未通过（0/1）'],
    [v('failed', [{ index: 1, status: 'runtime_error', ms: 2, exitCode: 10, input: '', expected: '3\n', actual: '3\n' }]), 'tests',
      '运行错误 · 第 1 个测试点 · 输出正确，但退出码是 10', '未通过（0/1）'],
    [v('accepted', [ok(1)]), 'sample', '样例通过 1/1', ''],
    [v('accepted', [ok(1), ok(2)]), 'tests', '全部通过 2/2', ''],
    [v('compile_error', [], { diagnostics: 'solution.c:5:3: error: expected \u2018;\u2019 before \u2018}\u2019 token' }), 'tests', '编译错误 · 第 5 行', '没有运行'],
  ];
  for (const [verdict, mode, title, score] of cases) {
    const h = headline(verdict, { mode });
    assert.equal(h.title, title);
    assert.equal(h.score, score, title);
  }
  assert.equal(headline(v('accepted', [ok(1)]), { mode: 'sample' }).invite, true);
  assert.equal(headline(v('accepted', [ok(1)]), { mode: 'tests' }).invite, undefined);
});

test('compiler messages read together: scanf without & is named, not "give it a start value"', () => {
  const text = [
    "solution.c:4:13: warning: format \u2018%d\u2019 expects argument of type \u2018int *\u2019, but argument 2 has type \u2018int\u2019 [-Wformat=]",
    "solution.c:4:5: warning: \u2018n\u2019 is used uninitialized [-Wuninitialized]",
  ].join('\n');
  const hints = hintsFor(parseDiagnostics(text));
  assert.match(hints[0], /漏写了 &/);
  assert.match(hints[1], /漏写了 &/);
  assert.doesNotMatch(hints[1], /初始值/);
  const alone = hintsFor(parseDiagnostics("solution.c:4:5: warning: \u2018n\u2019 is used uninitialized [-Wuninitialized]"));
  assert.match(alone[0], /初始值/);
  const table = [
    ["format \u2018%d\u2019 expects argument of type \u2018int\u2019, but argument 2 has type \u2018double\u2019 [-Wformat=]", /改用 %f/],
    ["format \u2018%f\u2019 expects argument of type \u2018double\u2019, but argument 3 has type \u2018int\u2019 [-Wformat=]", /int 用 %d/],
    ["format \u2018%f\u2019 expects argument of type \u2018float *\u2019, but argument 2 has type \u2018double *\u2019 [-Wformat=]", /%lf/],
    ["format \u2018%lld\u2019 expects argument of type \u2018long long int *\u2019, but argument 2 has type \u2018long long int\u2019", /漏写了 &/],
    ["return type of \u2018main\u2019 is not \u2018int\u2019 [-Wmain]", /int main\(void\)/],
    ["\u2018::main\u2019 must return \u2018int\u2019", /int main\(void\)/],
  ];
  for (const [message, want] of table) assert.match(hintsFor([{ message }])[0], want, message);
});

test('source scans: full-width punctuation in code, huge local arrays, void main, loops', () => {
  const code = 'int main(void)\n{\n    printf("你好，世界！")；// 注释里的，不算\n    int a[3]，b;\n    char c = \'，\';\n}\n';
  assert.deepEqual(fullWidthInCode(code).map((f) => [f.char, f.replacement, code.slice(f.from, f.to)]),
    [['；', ';', '；'], ['，', ',', '，']]);
  const arrays = [
    ['int main(void) { int a[1000000]; }', ['a', 4000000]],
    ['int main(void) { long long f[200000]; }', ['f', 1600000]],
    ['int main(void) { double m[1000][1000]; }', ['m', 8000000]],
    ['int main(void) { char s[1000000]; }', null],
    ['int a[10000000];\nint main(void) { return a[0]; }', null],
    ['int main(void) { static int a[10000000]; }', null],
    ['int main(void) { /* int a[10000000]; */ }', null],
  ];
  for (const [src, want] of arrays) {
    const found = bigLocalArrays(src);
    if (!want) assert.deepEqual(found, [], src);
    else assert.deepEqual([found[0].name, found[0].bytes], want, src);
  }
  assert.equal(hasVoidMain('void main(void) {}'), true);
  assert.equal(hasVoidMain('int main(void) { /* void main() */ }'), false);
  assert.equal(hasLoop('while (n--) {}'), true);
  assert.equal(hasLoop('printf("for (;;)");'), false);
});

test('exit codes carry a short cause for the headline', () => {
  for (const [code, short] of [[136, '整数除以 0'], [139, '内存访问越界'], [3221225477, '内存访问越界'], [3221225725, '栈溢出'], [5, '返回了 5']]) {
    assert.equal(explainExit(code).short, short, String(code));
  }
  assert.match(explainExit(139).detail, /局部数组/);
});

test('a "?" in the output is taken for a NUL byte only where that explains the difference', () => {
  const cases = [
    ['Yes\nDone\n', 'Yes?Done\n', 'sure'],
    ['3\n', '3?\n', 'sure'],
    ['3\n', '4?\n', 'maybe'],
    ['a?\n', 'a?b\n', ''],
    ['3\n', '4\n', ''],
  ];
  for (const [expected, actual, want] of cases) {
    assert.equal(nulSuspect({ status: 'wrong_answer', expected, actual }), want, JSON.stringify([expected, actual]));
  }
  assert.equal(nulSuspect({ status: 'runtime_error', expected: '3\n', actual: '3?\n' }), '');
});

import * as M from '../../web/src/sync-merge.js';
import { trimHistory, mergeProgress, failuresInARow, historyEntry, HISTORY_PER_EXERCISE } from '../../web/src/lib/history.js';

const entry = (at, status = 'failed', code = 'int main(void){return 0;}') => ({ at, lang: 'c', status, passed: 0, total: 3, code });

test('history stays within its limits and drops the oldest first, each exercise keeping its newest', () => {
  const many = { records: { a: { history: Array.from({ length: 30 }, (_, i) => entry(i)) } } };
  assert.equal(trimHistory(many), 30 - HISTORY_PER_EXERCISE);
  assert.deepEqual(many.records.a.history.map((e) => e.at), Array.from({ length: 20 }, (_, i) => i + 10));

  // A small budget: the oldest entries go, across exercises, and every exercise keeps its newest.
  const big = 'x'.repeat(1000);
  const state = { records: {
    a: { history: [entry(1, 'failed', big), entry(5, 'failed', big), entry(9, 'accepted', big)] },
    b: { history: [entry(2, 'failed', big)] },
    c: { history: [entry(3, 'failed', big), entry(4, 'failed', big)] },
  } };
  trimHistory(state, { budget: 3500 });
  assert.deepEqual(Object.fromEntries(Object.entries(state.records).map(([id, r]) => [id, r.history.map((e) => e.at)])),
    { a: [9], b: [2], c: [4] });
  trimHistory(state, { budget: 1100 });
  assert.deepEqual(Object.fromEntries(Object.entries(state.records).map(([id, r]) => [id, (r.history || []).map((e) => e.at)])),
    { a: [9], b: [], c: [] });

  // The whole file stays under the limit: history gives way to drafts.
  const full = { records: { a: { drafts: { c: 'y'.repeat(3000) }, history: [entry(1, 'failed', big), entry(2, 'failed', big)] } } };
  trimHistory(full, { fileRoom: 4500 });
  assert.deepEqual(full.records.a.history.map((e) => e.at), [2]);

  // Broken entries are dropped, never kept.
  const broken = { records: { a: { history: [null, { at: 'x' }, entry(1)] } } };
  trimHistory(broken);
  assert.deepEqual(broken.records.a.history, [entry(1)]);
});

test('two pages\' progress merges per exercise and nothing either one recorded is lost', () => {
  const base = { version: 1, records: { sum: { drafts: { c: 'base' }, draftsAt: { c: 1 }, attempts: 1, best: 'accepted', passDates: [], history: [entry(1)], days: ['2026-01-01'] } }, settings: {} };
  const clone = (x) => JSON.parse(JSON.stringify(x));
  const cases = [
    {
      what: 'different exercises',
      local: (s) => { s.records.sum.drafts.c = 'A'; s.records.sum.draftsAt.c = 5; },
      disk: (s) => { s.records.greet = { drafts: { c: 'B' }, draftsAt: { c: 6 }, attempts: 0, best: '', passDates: [] }; },
      check: (m) => { assert.equal(m.records.sum.drafts.c, 'A'); assert.equal(m.records.greet.drafts.c, 'B'); },
    },
    {
      what: 'the same draft: the newer stays, the other is an earlier version',
      local: (s) => { s.records.sum.drafts.c = 'A'; s.records.sum.draftsAt.c = 5; },
      disk: (s) => { s.records.sum.drafts.c = 'B'; s.records.sum.draftsAt.c = 7; },
      check: (m) => { assert.equal(m.records.sum.drafts.c, 'B'); assert.deepEqual(m.records.sum.earlier.map((e) => e.code), ['A']); },
    },
    {
      what: 'submissions on both pages: attempts add up, history and days are the union',
      local: (s) => { const r = s.records.sum; r.attempts = 2; r.history.push(entry(10)); r.days.push('2026-01-02'); r.lastAt = 10; },
      disk: (s) => { const r = s.records.sum; r.attempts = 3; r.history.push(entry(11), entry(12, 'accepted')); r.days.push('2026-01-03'); r.best = 'accepted'; r.lastAt = 12; },
      check: (m) => {
        const r = m.records.sum;
        assert.equal(r.attempts, 4);
        assert.equal(r.best, 'accepted');
        assert.deepEqual(r.history.map((e) => e.at), [1, 10, 11, 12]);
        assert.deepEqual(r.days, ['2026-01-01', '2026-01-02', '2026-01-03']);
      },
    },
    {
      what: 'a pass mark this page cleared (a changed bank) stays cleared',
      local: (s) => { s.records.sum.best = 'failed'; s.records.sum.basis = 'new-tests'; s.records.sum.clearedAt = 9; },
      disk: () => {},
      check: (m) => assert.equal(m.records.sum.best, 'failed'),
    },
    {
      what: 'tips seen on either page stay seen',
      local: (s) => { s.records.sum.tips = ['让输入处理更稳健']; },
      disk: (s) => { s.records.sum.tips = ['检查动态内存的释放']; },
      check: (m) => assert.deepEqual(m.records.sum.tips.sort(), ['检查动态内存的释放', '让输入处理更稳健'].sort()),
    },
    {
      what: 'an older file that keeps the map under "exercises"',
      local: (s) => { s.records.sum.drafts.c = 'A'; s.records.sum.draftsAt.c = 5; },
      disk: (s) => { s.exercises = s.records; delete s.records; },
      check: (m) => { assert.equal(m.records.sum.drafts.c, 'A'); assert.equal(m.exercises, undefined); },
    },
  ];
  for (const c of cases) {
    const local = clone(base);
    const disk = clone(base);
    c.local(local);
    c.disk(disk);
    const merged = mergeProgress(base, local, disk, 'pc');
    c.check(merged, c.what);
    // Nobody else wrote: the page's own progress comes back as the page shows it.
    const shown = (s) => Object.fromEntries(Object.entries(M.upgrade(s).records).map(([id, r]) => [id,
      [r.drafts, r.attempts, r.best, r.lastStatus, (r.history || []).map((e) => e.code), r.days, r.tips]]));
    assert.deepEqual(shown(mergeProgress(base, local, base, 'pc')), shown(local), `${c.what}: a page alone`);
  }
});

test('failures in a row count back to the last pass', () => {
  const cases = [
    [[], 0],
    [['failed'], 1],
    [['accepted', 'failed', 'compile_error', 'failed'], 3],
    [['failed', 'failed', 'accepted'], 0],
  ];
  for (const [statuses, want] of cases) {
    assert.equal(failuresInARow({ history: statuses.map((s, i) => entry(i, s)) }), want, statuses.join(','));
  }
  assert.deepEqual(historyEntry({ status: 'failed', passed: 1, total: 4 }, 'cpp', 'x', 7), { at: 7, lang: 'cpp', status: 'failed', passed: 1, total: 4, code: 'x' });
});

import { bankChanges } from '../../web/src/lib/bank.js';
import { smallBank } from '../e2e/fixtures.mjs';

test('a bank import is described before it replaces anything', () => {
  const old = smallBank().questions;
  const next = smallBank().questions;
  next[0].tests[0].output = '4\n';            // sum: judged differently
  next[1].title = '两个数里较大的';              // max2: text only
  next.splice(2, 1);                           // greet: removed
  next.push({ ...next[0], id: 'new1', title: '新题' });
  const passed = new Set(['sum', 'max2', 'greet']);
  const c = bankChanges(old, next, (id) => passed.has(id));
  const ids = (list) => list.map((q) => q.id);
  assert.deepEqual(ids(c.added), ['new1']);
  assert.deepEqual(ids(c.changed), ['sum', 'max2']);
  assert.deepEqual(ids(c.removed), ['greet']);
  assert.deepEqual(ids(c.losing), ['sum', 'greet'], 'a text change keeps the pass mark');
  const same = bankChanges(old, smallBank().questions, () => true);
  assert.deepEqual([same.added, same.changed, same.removed, same.losing].map((l) => l.length), [0, 0, 0, 0]);
});
