// One exercise's submission history: when, what the judge said, the code;
// an old submission can be read, compared with the code now, or put back.

import { $, el, clear } from '../lib/dom.js';
import { diffView, CASE_LABEL } from './verdict.js';

function when(at) {
  const d = new Date(at);
  const p = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())} ${p(d.getHours())}:${p(d.getMinutes())}`;
}

// "答案错误 · 第 2 个测试点 · 通过 1/4": which verdict, on which case, and the score.
export function resultWords(e) {
  if (e.status === 'accepted') return `全部通过 ${e.passed}/${e.total}`;
  if (e.status === 'compile_error') return '编译错误';
  const f = e.fail && typeof e.fail === 'object' ? e.fail : null;
  const score = e.passed > 0 ? `部分通过 ${e.passed}/${e.total}` : `未通过（0/${e.total}）`;
  if (f && Object.hasOwn(CASE_LABEL, f.status) && Number.isInteger(f.index) && f.index > 0) {
    return `${CASE_LABEL[f.status]} · 第 ${f.index} 个测试点 · ${score}`;
  }
  return score;
}

export { when };

// record: the exercise's progress record; ctx: { current(): code now, restore(entry) }
export function renderHistory(record, ctx) {
  const host = clear($('#history'));
  const list = record && Array.isArray(record.history) ? record.history.slice().reverse() : [];
  if (!list.length) {
    host.append(el('p', { class: 'empty', text: '这道题还没有提交记录。点“提交”后，每次的结果和代码都会记在这里。' }));
    return;
  }
  host.append(el('p', { class: 'history-note muted', text: `最近 ${list.length} 次提交（每道题最多保留 20 次，较早的会自动删掉）。` }));
  const ul = el('ul', { class: 'history-list' });
  for (const e of list) {
    const detail = el('div', { class: 'history-detail', hidden: true });
    const toggle = el('button', { type: 'button', class: 'btn btn-tiny history-open', 'aria-expanded': 'false', text: '查看代码' });
    toggle.addEventListener('click', () => {
      const on = detail.hidden;
      if (on && !detail.firstChild) {
        detail.append(
          el('div', { class: 'row history-actions' },
            el('button', { type: 'button', class: 'btn btn-tiny history-compare', text: '和现在的代码对比', onclick: () => {
              const old = detail.querySelector('.diff-view');
              if (old) old.remove();
              detail.append(diffView(e.code, ctx.current(), 'tokens', '现在的代码', { expectedTitle: '这次提交的代码', emptyText: '（编辑器是空的）' }));
            } }),
            el('button', { type: 'button', class: 'btn btn-tiny history-restore', text: '放回编辑器', onclick: () => ctx.restore(e) })),
          el('pre', { class: 'io history-code', text: e.code }));
      }
      detail.hidden = !on;
      toggle.setAttribute('aria-expanded', String(on));
      toggle.textContent = on ? '收起' : '查看代码';
    });
    ul.append(el('li', { class: 'history-item status-' + e.status },
      el('div', { class: 'history-row' },
        el('span', { class: 'history-time', text: when(e.at) }),
        el('span', { class: 'history-result', text: resultWords(e) }),
        el('span', { class: 'chip', text: e.lang === 'cpp' ? 'C++11' : 'C99' }),
        toggle),
      detail));
  }
  host.append(ul);
}
