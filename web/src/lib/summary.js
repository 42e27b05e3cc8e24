// The verdict in one line: what went wrong first and where, then the score.

import { explainExit } from './exitcodes.js';
import { firstDifference } from './diff.js';
import { lineDiff } from './linediff.js';
import { parseDiagnostics, adviceFor } from './diagnostics.js';

export const CASE_LABEL = {
  passed: '通过', wrong_answer: '答案错误', runtime_error: '运行错误', timeout: '超时',
  output_limit: '输出超限', launch_error: '无法运行', skipped: '没有运行',
};

// The run printed what was expected and still did not end with 0.
export function rightOutputBadExit(c, compare) {
  return c.status === 'runtime_error' && typeof c.actual === 'string' && typeof c.expected === 'string'
    && firstDifference(c.expected, c.actual, compare) === null;
}

// Where a wrong answer first differs, as words: "第 3 行不同", "少了第 2 行" ...
export function whereDifferent(c, compare) {
  if (!String(c.actual || '').trim()) return '没有输出';
  const { rows } = lineDiff(c.expected, c.actual, compare);
  const row = rows.find((r) => r.kind !== 'same');
  if (!row) return '';
  if (row.kind === 'missing') return `少了第 ${row.e} 行`;
  if (row.kind === 'extra') return `多了第 ${row.a} 行`;
  return `第 ${row.a} 行不同`;
}

// The diagnostic run's finding, in a few words for the headline.
const EVIDENCE_SHORT = {
  bounds: '数组下标越界', divide: '除数为 0', null: '使用了空指针', overflow: '整数溢出',
  stack: '栈溢出（递归太深）', library: '库函数访问了非法内存', memory: '访问了非法内存',
  undefined: '未定义的运算',
};

// An answer cut short that the diagnostic run traced to a line: the line says more than "no
// output" (a crash keeps its exit code's name; the evidence is shown beside it).
function evidenceCause(c, evidence, compare) {
  if (!evidence || !Number.isInteger(evidence.line) || evidence.line < 1) return '';
  if (c.status !== 'wrong_answer') return '';
  const kind = (firstDifference(c.expected, c.actual, compare) || {}).kind;
  if (kind !== 'empty' && kind !== 'missing') return '';
  return `第 ${evidence.line} 行${EVIDENCE_SHORT[evidence.kind] || '出错'}`;
}

function caseCause(c, compare, evidence) {
  const traced = evidenceCause(c, evidence, compare);
  if (traced) return traced;
  if (c.status === 'runtime_error') {
    if (rightOutputBadExit(c, compare)) return `输出正确，但退出码是 ${c.exitCode}`;
    const e = explainExit(c.exitCode);
    return e ? e.short : '';
  }
  if (c.status === 'wrong_answer') return whereDifferent(c, compare);
  return '';
}

// What the run itself showed went wrong (an out-of-bounds write, say), when the
// judge found it: { kind, line, text, message }, checked field by field; else null.
export function evidenceOf(verdict, c = firstFailure(verdict)) {
  const e = (c && c.evidence) || verdict.evidence;
  if (!e || typeof e !== 'object' || typeof e.message !== 'string' || !e.message.trim()) return null;
  return {
    kind: typeof e.kind === 'string' ? e.kind : '',
    line: Number.isInteger(e.line) && e.line > 0 ? e.line : 0,
    text: typeof e.text === 'string' ? e.text : '',
    message: e.message.trim(),
  };
}

export function firstFailure(verdict) {
  const cases = Array.isArray(verdict.cases) ? verdict.cases : [];
  return cases.find((c) => c.status !== 'passed' && c.status !== 'skipped') || null;
}

// { tone: 'good'|'bad'|'warn', title, score, invite } for a verdict;
// ctx: { mode: 'sample'|'tests', compare }.
export function headline(verdict, { mode = 'tests', compare = 'tokens', stopped = false, code = '', lang = 'c' } = {}) {
  const unit = mode === 'sample' ? '样例' : '测试点';
  const { passed = 0, total = 0 } = verdict;
  if (stopped) {
    const ran = (Array.isArray(verdict.cases) ? verdict.cases : []).filter((c) => c.status !== 'skipped').length;
    return { tone: 'warn', title: `已停止 · 运行了 ${ran}/${total} 个${unit}`, score: `通过 ${passed} 个`, caseIndex: (firstFailure(verdict) || {}).index };
  }
  if (verdict.status === 'compile_error') {
    const shown = parseDiagnostics(verdict.diagnostics).filter((d) => d.severity !== 'note');
    const k = shown.findIndex((d) => d.severity === 'error');
    const line = k >= 0 ? adviceFor(shown, code, lang)[k].line : 0;
    return { tone: 'warn', title: line ? `编译错误 · 第 ${line} 行` : '编译错误', score: '没有运行' };
  }
  if (verdict.status === 'accepted') {
    if (mode === 'sample') return { tone: 'good', title: `样例通过 ${passed}/${total}`, score: '', invite: true };
    return { tone: 'good', title: `全部通过 ${passed}/${total}`, score: '' };
  }
  const score = passed > 0 ? `部分通过 ${passed}/${total}` : `未通过（0/${total}）`;
  const c = firstFailure(verdict);
  if (!c) return { tone: 'bad', title: score, score: '' };
  const parts = [CASE_LABEL[c.status] || c.status, `第 ${c.index} 个${unit}`];
  const cause = caseCause(c, compare, verdict.evidence);
  if (cause) parts.push(cause);
  return { tone: 'bad', title: parts.join(' · '), score, caseIndex: c.index };
}

// 'sure' when the output matches once its "?" are taken for NUL bytes (gone or
// a blank), 'maybe' when it holds "?" that the expected output does not, else ''.
export function nulSuspect(c, compare) {
  const actual = String(c.actual || '');
  const expected = String(c.expected || '');
  if (c.status !== 'wrong_answer' || !actual.includes('?') || expected.includes('?')) return '';
  const gone = firstDifference(expected, actual.replace(/\?/g, ''), compare) === null;
  const blank = firstDifference(expected, actual.replace(/\?/g, ' '), compare) === null;
  return gone || blank ? 'sure' : 'maybe';
}
