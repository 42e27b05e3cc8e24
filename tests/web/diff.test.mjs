// The page's reading of outputs, exit codes and compiler messages (no browser needed).

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { firstDifference, tokenize } from '../../web/src/lib/diff.js';
import { explainExit } from '../../web/src/lib/exitcodes.js';
import { parseDiagnostics, hintFor } from '../../web/src/lib/diagnostics.js';

test('outputs that the judge accepts show no difference', () => {
  const same = [
    ['1 2\n', '1\r\n2'],
    ['\n', ''],
    ['a  b\tc\n', 'a b c'],
  ];
  for (const [expected, actual] of same) assert.equal(firstDifference(expected, actual), null, JSON.stringify([expected, actual]));
  assert.equal(firstDifference('0.5\n', '0.5000004\n', 'float'), null);
  assert.notEqual(firstDifference('0.5\n', '0.5000004\n', 'tokens'), null, 'token mode compares text');
  assert.notEqual(firstDifference('0.5\n', '0.500002\n', 'float'), null, 'beyond the tolerance');
});

test('the first difference is placed and named in plain words', () => {
  const cases = [
    // expected, actual, kind, where (side line col), words in the note
    ['3\n', '', 'empty', ['expected', 1, 1], '没有输出任何内容'],
    ['1\n2\n3\n', '1\n2\n', 'missing', ['expected', 3, 1], '缺少第 3 行'],
    ['1 2 3\n', '1 2\n', 'missing', ['expected', 1, 5], '少输出了内容'],
    ['1 2\n', '1 2\nDEBUG x=3\n', 'extra', ['actual', 2, 1], '多输出了内容'],
    ['Yes\n', 'yes\n', 'case', ['actual', 1, 1], '大小写不同'],
    ['5\n', '6\n', 'number', ['actual', 1, 1], '数值不同'],
    ['3\n', '3.000000\n', 'number', ['actual', 1, 1], '格式不同'],
    ['2.50\n', '2.500000\n', 'number', ['actual', 1, 1], '保留 2 位'],
    ['3000000000\n', '-1294967296\n', 'number', ['actual', 1, 1], '溢出'],
    ['7\n', '请输入两个数：7\n', 'prompt', ['actual', 1, 1], '提示文字'],
    ['a,b\n', 'a，b\n', 'fullwidth', ['actual', 1, 1], '全角'],
    ['1 2\n', '12\n', 'joined', ['actual', 1, 1], '缺少分隔'],
    ['x 中文 y\n', 'x 中文 z\n', 'text', ['actual', 1, 6], '内容不同'],
  ];
  for (const [expected, actual, kind, [side, line, col], words] of cases) {
    const d = firstDifference(expected, actual);
    const label = JSON.stringify([expected, actual]);
    assert.ok(d, label);
    assert.equal(d.kind, kind, label);
    const token = d[side];
    assert.deepEqual([token.line, token.col], [line, col], `${label} position`);
    assert.ok(d.note.includes(words), `${label}: ${d.note}`);
  }
});

test('tokens carry offsets that cut the text back into the token', () => {
  const text = 'ab  c\r\n\t中文 x';
  for (const t of tokenize(text)) assert.equal(text.slice(t.start, t.end), t.text);
  assert.deepEqual(tokenize(text).map((t) => [t.text, t.line, t.col]), [['ab', 1, 1], ['c', 1, 5], ['中文', 2, 2], ['x', 2, 5]]);
});

test('exit codes are explained for both platforms', () => {
  const cases = [
    [3221225477, '访问违规'],
    [3221225725, '栈溢出'],
    [3221225620, '除以 0'],
    [139, 'SIGSEGV'],
    [136, 'SIGFPE'],
    [134, 'SIGABRT'],
    [159, '系统调用'],
    [3, 'abort'],
    [7, 'main 函数返回了 7'],
    [0xC0001234, '系统异常 0xC0001234'],
  ];
  for (const [code, words] of cases) {
    const e = explainExit(code);
    assert.ok(e && (e.title + e.detail).includes(words), `${code}: ${e && e.title}`);
  }
  assert.equal(explainExit(0), null);
});

test('compiler messages point at lines of the learner\'s file', () => {
  const text = [
    'solution.c: In function \u2018main\u2019:',
    'solution.c:5:14: error: expected \u2018;\u2019 before \u2018return\u2019',
    '    5 |     printf("x")',
    'C:\\Users\\a\\AppData\\Local\\Temp\\Mesk-1-2\\solution.cpp:12:3: warning: unused variable \u2018n\u2019 [-Wunused-variable]',
    'solution.c:7: error: old style without column',
    'solution.c:9:1: fatal error: missing.h: No such file or directory',
    'other.c:3:1: error: not ours',
  ].join('\n');
  assert.deepEqual(parseDiagnostics(text).map((d) => [d.line, d.col, d.severity]),
    [[5, 14, 'error'], [12, 3, 'warning'], [7, 1, 'error'], [9, 1, 'error']]);
  assert.match(hintFor('expected \u2018;\u2019 before \u2018return\u2019'), /分号/);
  assert.match(hintFor("expected ';' before 'return'"), /分号/);
  assert.match(hintFor('expected \u2018,\u2019 or \u2018;\u2019 before \u2018printf\u2019'), /分号/);
  assert.match(hintFor("'x' undeclared (first use in this function)"), /没有定义/);
  assert.equal(hintFor('something new entirely'), '');
});
