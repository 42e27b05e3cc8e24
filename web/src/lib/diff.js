// Where a program's output first differs from the expected one, and what that
// difference most likely means. Outputs are compared the way the judge does:
// as whitespace-separated tokens, so layout alone never counts as a difference.

import { FULL_TO_HALF, hasLoop, writesOutput } from './codecheck.js';
import { numberOf, sameToken } from './equal.js';

const SPACE = /[\t\n\v\f\r ]/;

// Tokens with their 1-based line and column (columns count characters).
export function tokenize(text) {
  const tokens = [];
  let line = 1;
  let col = 1;
  let current = null;
  for (let i = 0; i < text.length;) {
    const cp = text.codePointAt(i);
    const ch = String.fromCodePoint(cp);
    if (SPACE.test(ch)) {
      if (current) { current.end = i; tokens.push(current); current = null; }
      if (ch === '\n') { line++; col = 1; } else col++;
    } else {
      if (!current) current = { text: '', line, col, start: i, end: i };
      current.text += ch;
      col++;
    }
    i += ch.length;
  }
  if (current) { current.end = text.length; tokens.push(current); }
  return tokens;
}

export { numberOf };

// Chinese characters proper (a prompt such as 请输入), not full-width punctuation.
const HANZI = /[\u3400-\u9fff]/;
const FULL_WIDTH = new RegExp(`[${Object.keys(FULL_TO_HALF).join('')}]`, 'g');

function halfWidth(text) {
  return text.replace(FULL_WIDTH, (c) => FULL_TO_HALF[c]);
}

function fullWidthUsed(text) {
  return [...new Set(String(text).match(FULL_WIDTH) || [])];
}

function quoteAll(chars) {
  return chars.map((c) => `“${c}”`).join('');
}

function squeeze(text) {
  return String(text).replace(/[\t\n\v\f\r ]+/g, '');
}

function decimals(token) {
  const dot = token.indexOf('.');
  return dot < 0 ? 0 : token.replace(/[eE].*$/, '').length - dot - 1;
}

function short(text, max = 24) {
  return text.length > max ? text.slice(0, max) + '…' : text;
}

function isWhole(x) {
  return Number.isFinite(x) && Math.trunc(x) === x;
}

function numberNote(e, a, code) {
  const x = numberOf(a.text);
  const y = numberOf(e.text);
  if (e.text.includes('.') && !isWhole(y) && isWhole(x) && (Math.trunc(y) === x || Math.floor(y) === x)) {
    return `可能发生了整数除法：预期 ${e.text}，实际 ${a.text}，小数部分丢了。两个 int 相除结果还是 int（5 / 2 得 2），`
      + '先把其中一个变成 double 再除，例如 (double)a / b 或 a / 2.0。';
  }
  if (!e.text.includes('.') && a.text.includes('.') && x === 0 && y !== 0) {
    return `用 %f 输出了 int：预期 ${e.text}，实际 ${a.text}。int 变量要用 %d 输出；如果它本该是小数，把变量定义成 double。`;
  }
  if (e.text.includes('.') && !a.text.includes('.') && Math.abs(x) > 1000 * Math.max(1, Math.abs(y))) {
    return `用 %d 输出了 double：预期 ${e.text}，实际得到一个无关的整数 ${a.text}。double 要用 %f 输出（保留两位小数用 %.2f）。`;
  }
  if (!e.text.includes('.') && a.text.includes('.') && Math.abs(x - y) < 1) {
    return `格式不同：预期整数 ${e.text}，实际 ${a.text}。整数请用 %d 输出，不要用 %f。`;
  }
  if (e.text.includes('.') && decimals(e.text) !== decimals(a.text) && Math.abs(x - y) < 1) {
    return `小数位数不同：预期保留 ${decimals(e.text)} 位（${e.text}），实际 ${decimals(a.text)} 位（${a.text}）。用 %.${decimals(e.text)}f 控制位数。`;
  }
  if (Math.abs(x - y) === 1 && hasLoop(code)) {
    return `数值差 1：预期 ${e.text}，实际 ${a.text}。检查循环的起点和终点（< 还是 <=），以及计数从 0 还是从 1 开始。`;
  }
  if (Math.abs(y) > 2147483647 && Math.abs(x) <= 2147483648) {
    return `数值溢出：预期 ${e.text} 超出了 int 的范围，实际得到 ${a.text}。改用 long long，并用 %lld 输出。`;
  }
  if (x === -y && x !== 0) {
    return `符号相反：预期 ${e.text}，实际 ${a.text}。检查减法的顺序和负号。`;
  }
  if (y !== 0 && Math.abs(x - y) / Math.abs(y) < 1e-3) {
    return `数值很接近但不相等：预期 ${e.text}，实际 ${a.text}。检查计算精度（float 改 double）和舍入方式。`;
  }
  return `数值不同：预期 ${e.text}，实际 ${a.text}。`;
}

// null when the two outputs agree token by token; otherwise
// { kind, note, expected, actual } where expected/actual are the tokens at the
// first difference (null when that side has already ended).
// code (optional) is the submitted source, for notes that depend on it.
// evidence (optional) is the diagnostic run's finding: where the program went wrong.
export function firstDifference(expectedText, actualText, compare = 'tokens', { code = '', evidence = null } = {}) {
  const expected = tokenize(expectedText || '');
  const actual = tokenize(actualText || '');
  let i = 0;
  while (i < expected.length && i < actual.length && sameToken(expected[i].text, actual[i].text, compare)) i++;
  if (i === expected.length && i === actual.length) return null;
  const e = expected[i] || null;
  const a = actual[i] || null;
  const result = { kind: 'text', expected: e, actual: a, index: i, note: '' };

  if (!a && actual.length === 0) {
    result.kind = 'empty';
    result.note = evidence && evidence.message
      ? `程序没有输出任何内容。${evidence.message}`
      // With an output call in the code, "forgot printf" would send the learner the wrong way.
      : code && writesOutput(code)
      ? '程序没有输出任何内容。代码里有输出语句却什么也没输出：程序多半在输出之前就出了错或提前结束了（例如数组越界写坏了内存、提前 return），或者输出的那一行根本没有执行到。'
      : '程序没有输出任何内容。检查是否忘了 printf，或程序在输出前就结束了。';
  } else if (!a) {
    const newLine = i === 0 || expected[i - 1].line < e.line;
    result.kind = 'missing';
    result.note = newLine
      ? `缺少第 ${e.line} 行：预期还有“${short(e.text)}”等内容，程序的输出在此之前就结束了。`
      : `少输出了内容：第 ${e.line} 行预期还有“${short(e.text)}”。`;
  } else if (!e) {
    result.kind = 'extra';
    result.note = `多输出了内容：预期的输出到此结束，程序还输出了“${short(a.text)}”。移除调试输出和多余的打印。`;
  } else if (fullWidthUsed(a.text).length && !fullWidthUsed(e.text).length
    && (halfWidth(a.text) === e.text || squeeze(halfWidth(actualText)) === squeeze(expectedText)
      || halfWidth(a.text).startsWith(e.text))) {
    const used = fullWidthUsed(a.text);
    result.kind = 'fullwidth';
    result.note = `输出里用了中文全角标点 ${quoteAll(used)}，预期的是英文半角 ${quoteAll(used.map((c) => FULL_TO_HALF[c]))}。`
      + '把 printf 里的标点在英文输入法下重新输入。';
  } else if (halfWidth(a.text) === halfWidth(e.text)) {
    result.kind = 'punct';
    result.note = `标点不同：预期“${e.text}”，实际“${a.text}”。注意中文全角与英文半角符号。`;
  } else if (a.text.toLowerCase() === e.text.toLowerCase()) {
    result.kind = 'case';
    result.note = `大小写不同：预期“${e.text}”，实际“${a.text}”。请照题目原样输出字母的大小写。`;
  } else if (i === 0 && HANZI.test(a.text) && !HANZI.test(e.text)) {
    result.kind = 'prompt';
    result.note = `多打印了提示文字“${short(a.text)}”。评测只看结果，不要输出“请输入”之类的提示。`;
  } else if (expected[i + 1] && a.text === e.text + expected[i + 1].text) {
    result.kind = 'joined';
    result.note = `缺少分隔：预期“${e.text}”和“${expected[i + 1].text}”之间有空格或换行，实际连在了一起。`;
  } else if (numberOf(e.text) !== null && numberOf(a.text) !== null) {
    result.kind = 'number';
    result.note = numberNote(e, a, code);
  } else {
    result.note = `内容不同：预期“${short(e.text)}”，实际“${short(a.text)}”。`;
  }
  return result;
}
