// A verdict: summary, table of cases with side-by-side outputs and the first
// difference marked, compiler messages linked to the editor, and advice.

import { el, clear } from '../lib/dom.js';
import { firstDifference, tokenize } from '../lib/diff.js';
import { explainExit } from '../lib/exitcodes.js';
import { parseDiagnostics, hintFor } from '../lib/diagnostics.js';

export const CASE_LABEL = {
  passed: '通过', wrong_answer: '答案错误', runtime_error: '运行错误', timeout: '超时',
  output_limit: '输出超限', launch_error: '无法运行', skipped: '已跳过',
};
const STATUS_LABEL = { accepted: '全部通过', failed: '未全部通过', compile_error: '编译错误' };
const LEVEL_LABEL = { warning: '注意', tip: '提示', success: '很好' };

const CASE_EXPLAIN = {
  timeout: '程序运行超过 1.5 秒被停止。检查循环是否能结束、是否在等待不存在的输入，大数据时减少重复计算。',
  output_limit: '程序输出超过 64 KB 被停止，多半是死循环在打印。',
  launch_error: '程序没能启动。可能被安全软件拦截，或系统资源不足。',
  skipped: '前面已有两个用例超时，其余用例不再运行，以免久等。',
};

export function renderError(host, message) {
  clear(host).append(el('div', { class: 'verdict-error', role: 'alert' }, el('strong', { text: '未能评测' }), el('p', { text: message })));
}

export function renderBusy(host, label) {
  clear(host).append(el('div', { class: 'verdict-busy' }, el('span', { class: 'spinner', 'aria-hidden': 'true' }), el('span', { text: label })));
}

// verdict: the judge's answer; ctx: { mode, lang, compare, goTo(line, col) }
export function renderVerdict(host, verdict, ctx) {
  clear(host);
  const cases = Array.isArray(verdict.cases) ? verdict.cases : [];
  const status = verdict.status;
  const head = el('div', { class: 'verdict-head verdict-' + status },
    el('div', { class: 'verdict-status', text: STATUS_LABEL[status] || status }),
    el('div', { class: 'verdict-score' },
      status === 'compile_error' ? '没有运行' : [el('strong', { text: `${verdict.passed}/${verdict.total}` }), ' 通过']),
    el('div', { class: 'verdict-meta', text: `${ctx.mode === 'sample' ? '样例' : '测试'} · ${ctx.lang === 'cpp' ? 'C++11' : 'C99'} · 编译 ${verdict.compileMs} ms` }));
  host.append(head);

  const diags = parseDiagnostics(verdict.diagnostics);
  if (!verdict.compiled || (verdict.diagnostics && verdict.diagnostics.trim())) {
    host.append(renderDiagnostics(verdict.diagnostics || '', diags, !verdict.compiled, ctx.goTo));
  }
  if (cases.length) host.append(renderCases(cases, ctx));
  if (Array.isArray(verdict.suggestions) && verdict.suggestions.length) {
    host.append(el('section', { class: 'suggestions', 'aria-label': '建议' },
      el('h3', { text: '建议' }),
      el('ul', null, verdict.suggestions.map((s) => el('li', { class: 'suggestion level-' + s.level },
        el('span', { class: 'level', text: LEVEL_LABEL[s.level] || s.level }),
        el('div', null, el('strong', { text: s.title }), el('p', { text: s.detail })))))));
  }
  return diags;
}

function renderDiagnostics(text, diags, failed, goTo) {
  const box = el('section', { class: 'diagnostics' + (failed ? ' failed' : '') },
    el('h3', { text: failed ? '编译器报告' : `编译器警告（${diags.filter((d) => d.severity === 'warning').length}）` }));
  const firstError = diags.find((d) => d.severity === 'error');
  if (firstError) {
    const hint = hintFor(firstError.message);
    box.append(el('p', { class: 'diag-first' }, '第一个错误在 ',
      el('button', { type: 'button', class: 'link', text: `第 ${firstError.line} 行`, onclick: () => goTo(firstError.line, firstError.col) }),
      hint ? `：${hint}` : '。先改它，后面的错误常常随之消失。'));
  }
  if (diags.length) {
    box.append(el('ul', { class: 'diag-list' }, diags.filter((d) => d.severity !== 'note').slice(0, 40).map((d) => {
      const hint = hintFor(d.message);
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

function renderCases(cases, ctx) {
  const table = el('table', { class: 'cases' },
    el('thead', null, el('tr', null, ['#', '结果', '用时', '退出码', ''].map((h) => el('th', { scope: 'col', text: h })))));
  const body = el('tbody');
  table.append(body);
  const firstBad = cases.find((c) => c.status !== 'passed' && c.status !== 'skipped');
  for (const c of cases) {
    const detail = el('tr', { class: 'case-detail', hidden: true }, el('td', { colspan: 5 }));
    const toggle = el('button', { type: 'button', class: 'btn btn-tiny', 'aria-expanded': 'false', text: '详情' });
    const row = el('tr', { class: 'case-row status-' + c.status, dataset: { index: c.index } },
      el('td', { text: String(c.index) }),
      el('td', null, el('span', { class: 'case-status', text: CASE_LABEL[c.status] || c.status })),
      el('td', { text: c.status === 'skipped' ? '—' : `${c.ms} ms` }),
      el('td', { class: 'exit', text: 'exitCode' in c ? String(c.exitCode) : '—', title: exitTitle(c) }),
      el('td', null, toggle));
    const open = (on) => {
      if (on && !detail.firstChild.firstChild) detail.firstChild.append(caseDetail(c, ctx));
      detail.hidden = !on;
      toggle.setAttribute('aria-expanded', String(on));
      toggle.textContent = on ? '收起' : '详情';
    };
    toggle.addEventListener('click', () => open(detail.hidden));
    body.append(row, detail);
    if (c === firstBad) open(true);
  }
  return el('section', { class: 'case-section' }, el('h3', { text: '用例' }), table);
}

function exitTitle(c) {
  const e = explainExit(c.exitCode);
  return e ? e.title : '';
}

function caseDetail(c, ctx) {
  const box = el('div', { class: 'case-box' });
  const explain = CASE_EXPLAIN[c.status];
  if (explain) box.append(el('p', { class: 'case-note', text: explain }));
  if (c.status === 'runtime_error' || (c.status === 'timeout' && c.exitCode && c.exitCode !== 1)) {
    const e = explainExit(c.exitCode);
    if (e) box.append(el('p', { class: 'case-note exit-note' }, el('strong', { text: e.title }), '：', e.detail));
  }
  if (!('input' in c)) return box;
  box.append(el('div', { class: 'io-block' }, el('div', { class: 'io-title', text: '输入' }),
    el('pre', { class: 'io', text: c.input || '（无输入）' })));
  const diff = c.status === 'passed' ? null : firstDifference(c.expected, c.actual, ctx.compare);
  if (diff) {
    const where = diff.actual || diff.expected;
    const side = diff.actual ? '实际输出' : '预期输出';
    box.append(el('p', { class: 'diff-note', role: 'note' },
      el('strong', { text: `第一处不同：${side}第 ${where.line} 行第 ${where.col} 列。` }), ' ', diff.note));
  } else if (c.status === 'wrong_answer') {
    box.append(el('p', { class: 'diff-note' }, '按空白分隔比较时内容一致；程序可能输出了空字符 \\0（显示为 ?）。'));
  }
  box.append(el('div', { class: 'side-by-side' },
    outputPane('预期输出', c.expected, diff && diff.expected, diff && !diff.expected),
    outputPane('实际输出', c.actual, diff && diff.actual, diff && !diff.actual)));
  return box;
}

// Output with line numbers; the token at the first difference is marked, and
// a side that ended too early gets an end marker.
function outputPane(title, text, token, endedEarly) {
  const value = String(text || '');
  const lines = value.split('\n');
  if (lines.length > 1 && lines[lines.length - 1] === '') lines.pop();
  const pre = el('pre', { class: 'io numbered' });
  let offset = 0;
  lines.forEach((line, i) => {
    const n = i + 1;
    const row = el('span', { class: 'ln-row' + (token && token.line === n ? ' diff-line' : '') }, el('span', { class: 'ln', text: String(n) }));
    if (token && token.line === n) {
      const startCol = token.start - offset;
      const endCol = token.end - offset;
      row.append(line.slice(0, startCol), el('mark', { class: 'diff-mark', text: line.slice(startCol, endCol) }), line.slice(endCol));
    } else {
      row.append(line);
    }
    pre.append(row, '\n');
    offset += line.length + 1;
  });
  if (endedEarly) pre.append(el('span', { class: 'ln-row diff-line' }, el('span', { class: 'ln', text: '' }), el('mark', { class: 'diff-mark end', text: '（输出到此结束）' })));
  if (!value) pre.prepend(el('span', { class: 'muted', text: '（空）' }));
  return el('div', { class: 'out-pane' }, el('div', { class: 'io-title', text: title }), pre);
}

export { tokenize };
