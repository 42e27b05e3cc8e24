// A verdict: a headline naming the first failure, compiler messages linked to
// the editor, the cases with a line-by-line view of the outputs, and advice.

import { el, clear } from '../lib/dom.js';
import { firstDifference, tokenize } from '../lib/diff.js';
import { lineDiff, foldRows, shorten } from '../lib/linediff.js';
import { explainExit, STACK_CRASHES } from '../lib/exitcodes.js';
import { parseDiagnostics, adviceFor } from '../lib/diagnostics.js';
import { headline, CASE_LABEL, rightOutputBadExit, nulSuspect, evidenceOf } from '../lib/summary.js';
import { bigLocalArrays, hasVoidMain, megabytes, writesOutput } from '../lib/codecheck.js';

export { CASE_LABEL };
const LEVEL_LABEL = { warning: '注意', tip: '提示', success: '很好' };

// Tips that the rules give for the code as written, whatever the result: worth
// reading once per exercise, not after every run.
export const STANDING_TIPS = new Set(['让输入处理更稳健', '整数幂可以用整数运算', '检查动态内存的释放']);

const CASE_EXPLAIN = {
  timeout: '程序运行超过 1.5 秒，被停了下来。检查循环能不能结束、是不是在等一个不存在的输入；数据大时减少重复计算。',
  output_limit: '程序输出超过 64 KB，被停了下来，多半是死循环在不停打印。',
  launch_error: '程序没能启动。可能被安全软件拦下了，或者电脑资源不够。',
  skipped: '前面已经有两个测试点超时，剩下的就不再运行了，免得久等。',
};

export function renderError(host, message) {
  clear(host).append(el('div', { class: 'verdict-error', role: 'alert' }, el('strong', { text: '没能评测' }), el('p', { text: message })));
}

export function renderBusy(host, label, extra) {
  clear(host).append(el('div', { class: 'verdict-busy' }, el('span', { class: 'spinner', 'aria-hidden': 'true' }), el('span', { text: label }), extra || null));
}

// verdict: the judge's answer; ctx: { mode, lang, compare, code, goTo(line, col),
// onSubmit(), onNext() | null, onTryInput(text) | null, seenTips: Set, noteTips(titles),
// failures, reference, hints: [text] | null, hintsSeen, onHintSeen(count), confirm, onSawSolution }
export function renderVerdict(host, verdict, ctx) {
  if (verdict.evidence) ctx = { ...ctx, evidence: verdict.evidence };
  clear(host);
  const cases = Array.isArray(verdict.cases) ? verdict.cases : [];
  const h = headline(verdict, ctx);
  const actions = el('div', { class: 'verdict-actions' });
  if (h.invite && ctx.onSubmit) {
    actions.append(el('span', { class: 'verdict-invite', text: '样例都对了，再点“提交”用全部测试点检验。' }),
      el('button', { type: 'button', class: 'btn btn-primary btn-small', id: 'verdict-submit', text: '提交', onclick: ctx.onSubmit }));
  }
  if (verdict.status === 'accepted' && ctx.mode !== 'sample' && ctx.onNext) {
    actions.append(el('button', { type: 'button', class: 'btn btn-primary btn-small', id: 'next-exercise', text: '下一题 →', onclick: ctx.onNext }));
  }
  const head = el('div', { class: 'verdict-head verdict-' + (ctx.stopped ? 'stopped' : verdict.status), role: 'status' },
    el('div', { class: 'verdict-status', text: h.title }),
    h.score ? el('div', { class: 'verdict-score', text: h.score }) : null,
    el('div', { class: 'verdict-meta', text: `${ctx.mode === 'sample' ? '运行样例' : '提交'} · ${ctx.lang === 'cpp' ? 'C++11' : 'C99'} · 编译用了 ${verdict.compileMs} 毫秒` }),
    actions.firstChild ? actions : null);
  host.append(head);

  const diags = parseDiagnostics(verdict.diagnostics);
  if (!verdict.compiled || (verdict.diagnostics && verdict.diagnostics.trim())) {
    host.append(renderDiagnostics(verdict.diagnostics || '', diags, !verdict.compiled, ctx));
  }
  if (cases.length) host.append(renderCases(cases, ctx, h.caseIndex));
  if (verdict.status !== 'accepted' && ctx.mode !== 'sample' && !ctx.stopped) {
    const hints = exerciseHints(ctx);
    if (hints.length && ctx.failures >= 1) host.append(hintLadder(hints, verdict, ctx));
    else if (!hints.length && ctx.failures >= HELP_AFTER) host.append(helpLadder(verdict, ctx));
  }
  const evidence = verdict.status !== 'accepted' ? evidenceOf(verdict) : null;
  if (evidence) host.append(renderEvidence(evidence, ctx));
  // Passing the samples is not passing the exercise: the judge's "all passed" is said of the tests.
  const suggestions = (Array.isArray(verdict.suggestions) ? verdict.suggestions : [])
    .map((s) => (ctx.mode === 'sample' && s && s.level === 'success' ? SAMPLES_PASSED : s));
  if (suggestions.length) host.append(renderSuggestions(suggestions, ctx));
  return diags;
}

const SAMPLES_PASSED = {
  level: 'success', title: '样例通过了',
  detail: '样例只是题目里给出的几组例子，还不是全部测试。点“提交”用全部测试点检验，都通过才算完成这道题。',
};

// What the run itself showed, above the general advice, its line linked into the editor.
function renderEvidence(ev, ctx) {
  return el('section', { class: 'evidence', id: 'evidence', 'aria-label': '运行时发现的问题' },
    el('h3', { text: '运行时发现的问题' }),
    el('p', null, ev.line ? el('button', { type: 'button', class: 'link evidence-line', text: `第 ${ev.line} 行`, onclick: () => ctx.goTo(ev.line, 1) }) : null,
      ev.line ? '：' : '', ev.line ? ev.message.replace(new RegExp(`^第 ?${ev.line} ?行[：:]\\s*`), '') : ev.message),
    ev.text ? el('pre', { class: 'io evidence-code', text: ev.text }) : null);
}

// After this many failed submissions in a row the page offers help, for exercises
// that come without hints of their own.
export const HELP_AFTER = 3;

// What each of an exercise's own hints is, by position.
const HINT_LABEL = ['思路', '关键一步', '再提示一点'];

// The exercise's own hints (a bank may have none, or malformed ones from elsewhere).
function exerciseHints(ctx) {
  return Array.isArray(ctx.hints) ? ctx.hints.filter((h) => typeof h === 'string' && h.trim()).slice(0, 3) : [];
}

// A hint's text as paragraphs, `code` in back-quotes as code; never as markup.
function hintBody(text) {
  return text.split(/\n\s*\n/).map((para) => el('p', null, ...para.split(/(`[^`\n]+`)/).filter(Boolean)
    .map((part) => (part.length > 2 && part.startsWith('`') && part.endsWith('`') ? el('code', { text: part.slice(1, -1) }) : part))));
}

function squash(text) {
  return String(text || '').replace(/\s+/g, '');
}

// The exercise's own hints one at a time from the first failed submission, then the
// reference solution. Hints opened after an earlier verdict stay folded away, and a hint
// that says what the advice below already says is not said again.
function hintLadder(all, verdict, ctx) {
  const onScreen = new Set((Array.isArray(verdict.suggestions) ? verdict.suggestions : []).map((x) => squash(x.detail)));
  const steps = all.map((text, i) => ({ text, label: HINT_LABEL[i] || `提示 ${i + 1}` }))
    .filter((step) => !onScreen.has(squash(step.text)));
  let seen = Math.min(Math.max(0, ctx.hintsSeen | 0), steps.length);
  const box = el('section', { class: 'help-ladder', id: 'help-ladder', 'aria-label': '帮助' },
    el('h3', { text: ctx.failures > 1 ? `已经连续 ${ctx.failures} 次没通过，要不要看一条提示？` : '这次没通过。要不要看一条提示？' }));
  if (seen) {
    box.append(el('details', { class: 'help-seen' },
      el('summary', { text: `看过的提示（${seen} 条）` }),
      ...steps.slice(0, seen).map((step, i) => el('div', { class: 'help-step', dataset: { step: String(i + 1) } },
        el('strong', { text: step.label }), ...hintBody(step.text)))));
  }
  const fresh = el('div', { class: 'help-steps' });
  const next = el('button', { type: 'button', class: 'btn btn-small', id: 'help-next' });
  const solutionButton = el('button', { type: 'button', class: 'btn btn-small', id: 'help-solution', text: '看参考答案' });
  const update = () => {
    next.hidden = seen >= steps.length;
    if (!next.hidden) next.textContent = `第 ${seen + 1} 步：${steps[seen].label}`;
    solutionButton.hidden = seen < steps.length;
  };
  next.addEventListener('click', () => {
    if (seen >= steps.length) return;
    const step = steps[seen];
    seen += 1;
    fresh.append(el('div', { class: 'help-step help-hint', dataset: { step: String(seen) } },
      el('strong', { text: step.label }), ...hintBody(step.text)));
    if (ctx.onHintSeen) ctx.onHintSeen(seen);
    update();
  });
  solutionButton.addEventListener('click', async () => {
    const sure = await ctx.confirm('看参考答案？', '先照着提示自己再写一遍效果最好。看完以后，建议关掉答案，自己从头写一遍再提交。', '看答案');
    if (!sure) return;
    solutionButton.hidden = true;
    if (ctx.onSawSolution) ctx.onSawSolution();
    fresh.append(typeof ctx.reference === 'string' && ctx.reference
      ? el('div', { class: 'help-solution' }, el('div', { class: 'io-title', text: '参考答案（只是一种写法）' }), el('pre', { class: 'io', text: ctx.reference }))
      : el('p', { class: 'help-solution', text: '这道题没有附参考答案。' }));
  });
  update();
  box.append(fresh, el('div', { class: 'row' }, next, solutionButton));
  return box;
}

// First a hint drawn from the first failing case and the advice; then, asked
// for and confirmed, the exercise's reference solution.
function helpLadder(verdict, ctx) {
  const box = el('section', { class: 'help-ladder', id: 'help-ladder', 'aria-label': '帮助' },
    el('h3', { text: `已经连续 ${ctx.failures} 次没通过，需要帮忙吗？` }));
  const steps = el('div', { class: 'help-steps' });
  const hintButton = el('button', { type: 'button', class: 'btn btn-small', id: 'help-hint', text: '第一步：给我一个提示' });
  const solutionButton = el('button', { type: 'button', class: 'btn btn-small', id: 'help-solution', text: '第二步：看参考答案', hidden: true });
  hintButton.addEventListener('click', () => {
    hintButton.hidden = true;
    steps.append(el('div', { class: 'help-hint' }, ...hintFor(verdict, ctx)));
    solutionButton.hidden = false;
  });
  solutionButton.addEventListener('click', async () => {
    const sure = await ctx.confirm('看参考答案？', '先自己再想一想效果最好。看完以后，建议关掉答案，自己从头写一遍再提交。', '看答案');
    if (!sure) return;
    solutionButton.hidden = true;
    if (ctx.onSawSolution) ctx.onSawSolution();
    steps.append(typeof ctx.reference === 'string' && ctx.reference
      ? el('div', { class: 'help-solution' }, el('div', { class: 'io-title', text: '参考答案（只是一种写法）' }), el('pre', { class: 'io', text: ctx.reference }))
      : el('p', { class: 'help-solution', text: '这道题没有附参考答案。' }));
  });
  box.append(steps, el('div', { class: 'row' }, hintButton, solutionButton));
  return box;
}

function hintFor(verdict, ctx) {
  const parts = [];
  const cases = Array.isArray(verdict.cases) ? verdict.cases : [];
  const c = cases.find((x) => x.status !== 'passed' && x.status !== 'skipped');
  const unit = '测试点';
  if (verdict.status === 'compile_error') {
    const shown = parseDiagnostics(verdict.diagnostics).filter((d) => d.severity !== 'note');
    const k = shown.findIndex((d) => d.severity === 'error');
    const a = k >= 0 ? adviceFor(shown, ctx.code, ctx.lang)[k] : null;
    parts.push(el('p', null, a ? `先看第 ${a.line} 行：${a.hint || shown[k].message}` : '先让代码能编译通过：看编译器报告的第一个错误。'));
  } else if (c && 'input' in c) {
    parts.push(el('p', null, `拿第 ${c.index} 个${unit}在纸上走一遍：输入是`, el('code', { text: short(c.input) || '（没有输入）' }),
      '，应该输出', el('code', { text: short(c.expected) }), '，你的程序输出了', el('code', { text: short(c.actual) || '（什么也没有）' }), '。'));
    if (c.status === 'wrong_answer') {
      const d = firstDifference(c.expected, c.actual, ctx.compare, { code: ctx.code, evidence: ctx.evidence });
      if (d) parts.push(el('p', { text: d.note }));
    } else {
      const e = explainExit(c.exitCode);
      parts.push(el('p', { text: c.status === 'timeout' ? CASE_EXPLAIN.timeout : e ? e.detail : CASE_EXPLAIN[c.status] || '' }));
    }
  }
  const advice = (Array.isArray(verdict.suggestions) ? verdict.suggestions : []).find((x) => x.level === 'warning');
  if (advice) parts.push(el('p', null, el('strong', { text: advice.title }), '：', advice.detail));
  return parts;
}

function short(text, max = 60) {
  const t = String(text || '').trim();
  return t.length > max ? t.slice(0, max) + '…' : t;
}

function suggestionItem(s) {
  return el('li', { class: 'suggestion level-' + s.level },
    el('span', { class: 'level', text: LEVEL_LABEL[s.level] || s.level }),
    el('div', null, el('strong', { text: s.title }), el('p', { text: s.detail })));
}

function renderSuggestions(list, ctx) {
  const seen = ctx.seenTips || new Set();
  const fresh = list.filter((s) => !(STANDING_TIPS.has(s.title) && seen.has(s.title)));
  const again = list.filter((s) => STANDING_TIPS.has(s.title) && seen.has(s.title));
  const newTips = list.filter((s) => STANDING_TIPS.has(s.title) && !seen.has(s.title)).map((s) => s.title);
  if (newTips.length && ctx.noteTips) ctx.noteTips(newTips);
  const box = el('section', { class: 'suggestions', 'aria-label': '建议' }, el('h3', { text: '建议' }));
  if (fresh.length) box.append(el('ul', null, fresh.map(suggestionItem)));
  if (again.length) {
    box.append(el('details', { class: 'seen-tips' },
      el('summary', { text: `看过的提示（${again.length} 条）` }), el('ul', null, again.map(suggestionItem))));
  }
  return box;
}

function renderDiagnostics(text, diags, failed, ctx) {
  const goTo = ctx.goTo;
  const warnings = diags.filter((d) => d.severity === 'warning').length;
  const box = el('section', { class: 'diagnostics' + (failed ? ' failed' : '') },
    el('h3', { text: failed ? '编译器的报告' : `编译器的警告（${warnings} 条）` }));
  const shown = diags.filter((d) => d.severity !== 'note');
  const advice = adviceFor(shown, ctx.code, ctx.lang);
  const firstAt = shown.findIndex((d) => d.severity === 'error');
  if (firstAt >= 0) {
    const a = advice[firstAt];
    box.append(el('p', { class: 'diag-first' }, '第一个错误在',
      el('button', { type: 'button', class: 'link', text: `第 ${a.line} 行`, onclick: () => goTo(a.line, a.col) }),
      a.hint ? `：${a.hint}` : '。先改它，后面的错误常常会跟着消失。'));
  }
  if (shown.length) {
    const said = new Set();
    box.append(el('ul', { class: 'diag-list' }, shown.slice(0, 40).map((d, k) => {
      // One mistake often gives several messages on a line; its hint is said once.
      const key = `${advice[k].line}\u0000${advice[k].hint}`;
      const hint = advice[k].hint && !said.has(key) ? advice[k].hint : '';
      if (hint) said.add(key);
      return el('li', { class: 'diag diag-' + d.severity },
        el('button', { type: 'button', class: 'link diag-loc', text: `第 ${d.line} 行${d.col > 1 ? ` 第 ${d.col} 列` : ''}`,
          'aria-label': `跳到第 ${d.line} 行`, onclick: () => goTo(d.line, d.col) }),
        el('span', { class: 'diag-sev', text: d.severity === 'error' ? '错误' : '警告' }),
        el('code', { class: 'diag-msg', text: d.message }),
        hint ? el('span', { class: 'diag-hint', text: hint }) : null);
    })));
  }
  box.append(el('details', { class: 'raw', open: failed && !diags.length ? true : null },
    el('summary', { text: '编译器原文' }), el('pre', { class: 'io', text: text || '（编译器没有输出）' })));
  return box;
}

function exitCell(c) {
  if (c.status === 'skipped' || !('exitCode' in c)) return { text: '—', title: '' };
  // A run stopped for time or output was killed by the judge: its code says nothing about the program.
  if (c.status === 'timeout' || c.status === 'output_limit') return { text: '被停止', title: '评测把它停了下来' };
  const e = explainExit(c.exitCode);
  return { text: String(c.exitCode), title: e ? e.title : '正常结束' };
}

function renderCases(cases, ctx, openIndex) {
  const table = el('table', { class: 'cases' },
    el('thead', null, el('tr', null, ['#', '结果', '用时', '退出码', ''].map((h) => el('th', { scope: 'col', text: h })))));
  const body = el('tbody');
  table.append(body);
  for (const c of cases) {
    const detail = el('tr', { class: 'case-detail', hidden: true }, el('td', { colspan: 5 }));
    const toggle = el('button', { type: 'button', class: 'btn btn-tiny', 'aria-expanded': 'false', text: '详情' });
    const exit = exitCell(c);
    const row = el('tr', { class: 'case-row status-' + c.status, dataset: { index: c.index } },
      el('td', { text: String(c.index) }),
      el('td', null, el('span', { class: 'case-status', text: CASE_LABEL[c.status] || c.status })),
      el('td', { text: c.status === 'skipped' ? '—' : `${c.ms} ms` }),
      el('td', { class: 'exit', text: exit.text, title: exit.title }),
      el('td', null, toggle));
    const open = (on) => {
      if (on && !detail.firstChild.firstChild) detail.firstChild.append(caseDetail(c, ctx));
      detail.hidden = !on;
      toggle.setAttribute('aria-expanded', String(on));
      toggle.textContent = on ? '收起' : '详情';
      if (on) scrollToFirstDifference(detail);
    };
    toggle.addEventListener('click', () => open(detail.hidden));
    body.append(row, detail);
    if (c.index === openIndex) open(true);
  }
  return el('section', { class: 'case-section' }, el('h3', { text: ctx.mode === 'sample' ? '样例' : '测试点' }), table);
}

function scrollToFirstDifference(detail) {
  const run = () => {
    const row = detail.querySelector('.first-diff');
    const scroller = row && row.closest('.diff-scroll');
    if (!scroller) return;
    // Two lines of context above the difference.
    scroller.scrollTop = Math.max(0, row.offsetTop - 2 * row.offsetHeight - (scroller.querySelector('thead')?.offsetHeight || 0));
  };
  if (typeof requestAnimationFrame === 'function') requestAnimationFrame(run); else run();
}

function crashNotes(c, ctx) {
  const notes = [];
  if (rightOutputBadExit(c, ctx.compare)) {
    notes.push(el('p', { class: 'case-note exit-note' }, el('strong', { text: `输出正确，但退出码是 ${c.exitCode}` }),
      '：评测要求程序正常结束并返回 0。', hasVoidMain(ctx.code)
        ? '你的代码写的是 void main，改成 int main(void)，最后写 return 0;。'
        : '检查 main 的最后是不是 return 0;，以及有没有调用 exit(非 0)。'));
    return notes;
  }
  const e = explainExit(c.exitCode);
  if (e) notes.push(el('p', { class: 'case-note exit-note' }, el('strong', { text: e.title }), '：', e.detail));
  if (STACK_CRASHES.has(c.exitCode)) {
    for (const a of bigLocalArrays(ctx.code).slice(0, 2)) {
      notes.push(el('p', { class: 'case-note big-array' }, el('strong', { text: `第 ${a.line} 行的局部数组 ${a.name} 很大（约 ${megabytes(a.bytes)} MB）` }),
        '：函数里的数组放在栈上，栈只有几 MB（Windows 上常常只有 1 MB），放不下就会崩溃。把它移到所有函数的外面（全局数组），或者用 malloc 申请。'));
    }
  }
  return notes;
}

// Output still in the program's buffer when it crashed is lost: say so, and how to see it.
export function lostOutputNote() {
  return el('p', { class: 'case-note lost-output' }, el('strong', { text: '程序崩溃前没有留下输出。' }),
    'printf 的内容先放在程序自己的缓冲区里，攒够了或程序正常结束时才真正写出；程序一崩溃，缓冲区里的内容就丢了。'
    + '评测和自测时输出不是直接显示在屏幕上，行末的 \\n 也不会让它立刻写出。调试时在 printf 后面加一句 fflush(stdout); '
    + '就能看到程序崩溃前运行到了哪里。');
}

function caseDetail(c, ctx) {
  const box = el('div', { class: 'case-box' });
  const explain = CASE_EXPLAIN[c.status];
  if (explain) box.append(el('p', { class: 'case-note', text: explain }));
  if (c.status === 'runtime_error') box.append(...crashNotes(c, ctx));
  if (!('input' in c)) return box;
  box.append(el('div', { class: 'io-block' },
    el('div', { class: 'io-head' }, el('span', { class: 'io-title', text: '输入' }),
      ctx.onTryInput ? el('button', { type: 'button', class: 'btn btn-tiny try-input', text: '用这组输入自测', onclick: () => ctx.onTryInput(c.input || '') }) : null),
    el('pre', { class: 'io', text: c.input || '（没有输入）' })));
  const stopped = c.status === 'timeout' || c.status === 'output_limit' || (c.status === 'runtime_error' && !rightOutputBadExit(c, ctx.compare));
  if (c.status === 'wrong_answer') {
    const diff = firstDifference(c.expected, c.actual, ctx.compare, { code: ctx.code, evidence: ctx.evidence });
    if (diff) {
      const where = diff.actual || diff.expected;
      const side = diff.actual ? '实际输出' : '预期输出';
      box.append(el('p', { class: 'diff-note', role: 'note' },
        el('strong', { text: `第一处不同：${side}第 ${where.line} 行第 ${where.col} 列。` }), ' ', diff.note));
    }
  }
  const nul = nulSuspect(c, ctx.compare);
  if (nul) {
    box.append(el('p', { class: 'diff-note nul-note' }, nul === 'sure'
      ? '输出里有空字符 NUL（\\0），评测把它换成了 ?，下面标为 ␀。去掉它，输出就和预期一样了。'
      : '输出里的 ? 可能是空字符 NUL（\\0），评测把它换成了 ?，下面标为 ␀。',
    '常见原因：用 %c 输出了 0，或者输出的字符数组没有以 \\0 结尾。'));
  }
  if (stopped) {
    const crashed = c.status === 'runtime_error';
    if (crashed && !String(c.actual || '').trim() && writesOutput(ctx.code)) box.append(lostOutputNote());
    else box.append(el('p', { class: 'case-note', text: crashed ? '下面是程序崩溃前已经输出的内容。' : '下面是程序被停下之前已经输出的内容。' }));
  }
  box.append(diffView(c.expected, c.actual, ctx.compare, stopped ? '崩溃/停止前的输出' : '实际输出', { nul: !!nul }));
  return box;
}

// Text of one output line with long runs shortened, NUL bytes named, and the
// tokens in `marks` (indexes of blank-separated tokens) highlighted.
function lineCell(text, marks, nul) {
  const cell = el('td', { class: 'txt' });
  const parts = text.split(/([\t\v\f\r ]+)/);
  let token = 0;
  for (const part of parts) {
    if (!part) continue;
    if (/^[\t\v\f\r ]+$/.test(part)) { cell.append(part); continue; }
    const node = marks && marks.has(token) ? el('mark', { class: 'diff-mark' }) : document.createDocumentFragment();
    const s = shorten(part);
    if (s.cut) {
      appendText(node, s.head, nul);
      node.append(el('span', { class: 'cut', text: `…省略 ${s.cut} 个字符…`, title: `这一串共 ${Array.from(part).length} 个字符` }));
      appendText(node, s.tail, nul);
    } else {
      appendText(node, part, nul);
    }
    cell.append(node);
    token++;
  }
  return cell;
}

// The judge hands a NUL byte over as "?"; where it is known to be one, it is shown as ␀.
function appendText(node, text, nul) {
  const pieces = text.split(nul ? /[\u0000?]/ : '\u0000');
  pieces.forEach((p, i) => {
    if (i > 0) node.append(el('span', { class: 'nul', title: '空字符 NUL（\\0）', text: '␀' }));
    if (p) node.append(p);
  });
}

function differingTokens(e, a) {
  const x = tokenize(e).map((t) => t.text);
  const y = tokenize(a).map((t) => t.text);
  const left = new Set();
  const right = new Set();
  for (let k = 0; k < Math.max(x.length, y.length); k++) {
    if (x[k] !== y[k]) { if (k < x.length) left.add(k); if (k < y.length) right.add(k); }
  }
  return [left, right];
}

// Both outputs in one table, line beside line, so they scroll together. Line
// numbers live in a gutter drawn by CSS: selecting or copying the output never
// takes them along.
export function diffView(expected, actual, compare, actualTitle = '实际输出', { nul = false, expectedTitle = '预期输出', emptyText = '（程序没有输出）' } = {}) {
  const { rows, expected: exp, actual: act } = lineDiff(expected, actual, compare);
  const folded = foldRows(rows);
  const body = el('tbody');
  let first = null;
  for (const r of folded) {
    if (r.kind === 'fold') {
      body.append(el('tr', { class: 'row-fold' }, el('td', { colspan: 4, text: r.end ? `…… 还有 ${r.count} 行没有显示` : `…… ${r.count} 行相同` })));
      continue;
    }
    const [left, right] = r.kind === 'changed' ? differingTokens(exp[r.e - 1], act[r.a - 1]) : [null, null];
    const tr = el('tr', { class: 'row-' + r.kind },
      el('td', { class: 'ln', dataset: r.e ? { n: String(r.e) } : {} }),
      r.e ? lineCell(exp[r.e - 1], left) : el('td', { class: 'txt none' }),
      el('td', { class: 'ln', dataset: r.a ? { n: String(r.a) } : {} }),
      r.a ? lineCell(act[r.a - 1], right, nul) : el('td', { class: 'txt none' }));
    if (r.kind === 'missing') tr.title = '程序少输出了这一行';
    if (r.kind === 'extra') tr.title = '程序多输出了这一行';
    if (r.kind !== 'same' && !first) { first = tr; tr.classList.add('first-diff'); }
    body.append(tr);
  }
  if (!act.length) {
    body.append(el('tr', { class: 'row-empty' }, el('td', { class: 'ln' }), el('td', { class: 'txt' }), el('td', { class: 'ln' }),
      el('td', { class: 'txt empty-output', text: emptyText })));
  }
  const table = el('table', { class: 'diff-table' },
    el('colgroup', null, el('col', { class: 'col-ln' }), el('col'), el('col', { class: 'col-ln' }), el('col')),
    el('thead', null, el('tr', null, el('th', { class: 'ln' }), el('th', { class: 'io-title', text: expectedTitle }),
      el('th', { class: 'ln' }), el('th', { class: 'io-title', text: actualTitle }))),
    body);
  const scroller = el('div', { class: 'diff-scroll', tabindex: '0', 'aria-label': '预期输出和实际输出逐行对照' }, table);
  const bar = el('div', { class: 'diff-bar' },
    el('span', { class: 'diff-legend' }, el('span', { class: 'key-changed' }, '不同'), el('span', { class: 'key-missing' }, '少了'), el('span', { class: 'key-extra' }, '多了')),
    first ? el('button', { type: 'button', class: 'btn btn-tiny jump-diff', text: '跳到第一处不同', onclick: () => {
      scroller.scrollTop = Math.max(0, first.offsetTop - 2 * first.offsetHeight - table.tHead.offsetHeight);
      first.classList.remove('flash'); void first.offsetWidth; first.classList.add('flash');
    } }) : null);
  return el('div', { class: 'diff-view' }, bar, scroller);
}
