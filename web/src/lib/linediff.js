// A line-by-line view of two outputs for people: which lines are the same,
// which changed, which are missing or extra. Layout inside a line (runs of
// blanks, a trailing blank, CR) does not count, as it does not for the judge.

import { sameToken } from './equal.js';

const SPACE = /[\t\n\v\f\r ]+/;
const MAX_CELLS = 4e6; // the exact alignment stays under a few megabytes of work

export function splitLines(text) {
  const lines = String(text || '').split('\n');
  if (lines.length > 1 && lines[lines.length - 1] === '') lines.pop();
  if (lines.length === 1 && lines[0] === '') return [];
  return lines.map((l) => l.replace(/\r$/, ''));
}

function lineTokens(line) {
  return line.split(SPACE).filter(Boolean);
}

export function sameLine(e, a, compare = 'tokens') {
  const x = lineTokens(e);
  const y = lineTokens(a);
  return x.length === y.length && x.every((t, i) => sameToken(t, y[i], compare));
}

// Longest common subsequence of the lines in [lo, hi) of both sides, as pairs.
function align(exp, act, compare) {
  const n = exp.length;
  const m = act.length;
  if (n * m > MAX_CELLS) return null;
  const w = m + 1;
  const len = new Uint32Array((n + 1) * w);
  for (let i = n - 1; i >= 0; i--) {
    for (let j = m - 1; j >= 0; j--) {
      len[i * w + j] = sameLine(exp[i], act[j], compare)
        ? len[(i + 1) * w + j + 1] + 1
        : Math.max(len[(i + 1) * w + j], len[i * w + j + 1]);
    }
  }
  const pairs = [];
  let i = 0;
  let j = 0;
  while (i < n && j < m) {
    if (sameLine(exp[i], act[j], compare)) { pairs.push([i, j]); i++; j++; }
    else if (len[(i + 1) * w + j] >= len[i * w + j + 1]) i++;
    else j++;
  }
  return pairs;
}

// Rows in display order: { kind: 'same'|'changed'|'missing'|'extra', e, a }
// where e and a are 1-based line numbers (0 when that side has no line).
// A gap with lines on both sides is shown as changed lines, one beside the other.
export function lineDiff(expectedText, actualText, compare = 'tokens') {
  const exp = splitLines(expectedText);
  const act = splitLines(actualText);
  let head = 0;
  while (head < exp.length && head < act.length && sameLine(exp[head], act[head], compare)) head++;
  let tail = 0;
  while (tail < exp.length - head && tail < act.length - head
    && sameLine(exp[exp.length - 1 - tail], act[act.length - 1 - tail], compare)) tail++;
  const midE = exp.slice(head, exp.length - tail);
  const midA = act.slice(head, act.length - tail);
  const rows = [];
  for (let k = 0; k < head; k++) rows.push({ kind: 'same', e: k + 1, a: k + 1 });
  const pairs = align(midE, midA, compare) || [];
  let i = 0;
  let j = 0;
  const gap = (toI, toJ) => {
    while (i < toI && j < toJ) { rows.push({ kind: 'changed', e: head + i + 1, a: head + j + 1 }); i++; j++; }
    while (i < toI) { rows.push({ kind: 'missing', e: head + i + 1, a: 0 }); i++; }
    while (j < toJ) { rows.push({ kind: 'extra', e: 0, a: head + j + 1 }); j++; }
  };
  for (const [pi, pj] of pairs) {
    gap(pi, pj);
    rows.push({ kind: 'same', e: head + pi + 1, a: head + pj + 1 });
    i = pi + 1;
    j = pj + 1;
  }
  gap(midE.length, midA.length);
  for (let k = 0; k < tail; k++) {
    rows.push({ kind: 'same', e: exp.length - tail + k + 1, a: act.length - tail + k + 1 });
  }
  return { rows, expected: exp, actual: act };
}

// Long runs of equal lines fold into one marker, keeping `context` lines next
// to every difference; at most `limit` rows are kept.
export function foldRows(rows, context = 3, limit = 400) {
  const keep = rows.map((r) => r.kind !== 'same');
  const near = keep.slice();
  rows.forEach((r, k) => {
    if (!keep[k]) return;
    for (let d = Math.max(0, k - context); d <= Math.min(rows.length - 1, k + context); d++) near[d] = true;
  });
  const out = [];
  let hidden = 0;
  const flush = () => { if (hidden) { out.push({ kind: 'fold', count: hidden }); hidden = 0; } };
  rows.forEach((r, k) => {
    if (near[k]) { flush(); out.push(r); } else hidden++;
  });
  flush();
  if (out.length > limit) {
    const rest = out.slice(limit).reduce((s, r) => s + (r.kind === 'fold' ? r.count : 1), 0);
    return [...out.slice(0, limit), { kind: 'fold', count: rest, end: true }];
  }
  return out;
}

// A very long run without blanks (a 3000-digit number) is shown by its two
// ends; `cut` tells how many characters were left out.
export function shorten(line, max = 160) {
  const chars = Array.from(line);
  if (chars.length <= max) return { text: line, cut: 0 };
  const keepHead = Math.floor(max * 0.6);
  const keepTail = max - keepHead;
  return {
    head: chars.slice(0, keepHead).join(''),
    tail: chars.slice(chars.length - keepTail).join(''),
    text: line,
    cut: chars.length - max,
  };
}
