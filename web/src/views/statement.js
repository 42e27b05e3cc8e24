// One exercise's statement: title, scenario, task, input, output, constraints, samples.

import { $, el, clear } from '../lib/dom.js';
import { TOPIC_NAME, questionLang } from '../lib/bank.js';
import { stars, exerciseState, STATE_LABEL } from './list.js';
import { record } from '../lib/progress.js';

// `code` spans inside exercise texts; everything else stays plain text.
function richText(text) {
  const parts = String(text || '').split(/(`[^`\n]+`)/);
  return parts.map((p) => (p.length > 2 && p.startsWith('`') && p.endsWith('`') ? el('code', { text: p.slice(1, -1) }) : p));
}

function section(title, text) {
  return el('section', { class: 'st-section' }, el('h3', { text: title }), el('div', { class: 'st-text' }, richText(text)));
}

function copyButton(text, what) {
  return el('button', {
    type: 'button', class: 'btn btn-tiny', text: '复制', 'aria-label': '复制' + what,
    onclick: async (e) => {
      try { await navigator.clipboard.writeText(text); e.target.textContent = '已复制'; }
      catch { e.target.textContent = '无法复制'; }
      setTimeout(() => { e.target.textContent = '复制'; }, 1500);
    },
  });
}

let tryHandler = null;
// onTry(text): puts a sample's input into 自测.
export function onTrySample(fn) {
  tryHandler = fn;
}

export function renderStatement(q) {
  const host = clear($('#statement'));
  if (!q) {
    host.append(el('p', { class: 'empty', text: '从左侧选择一道题开始练习。' }));
    return;
  }
  const r = record(q.id);
  const state = exerciseState(q.id);
  const meta = el('div', { class: 'st-meta' },
    el('span', { class: 'chip', text: `${q.topic} · ${TOPIC_NAME.get(q.topic) || '其他'}` }),
    el('span', { class: 'chip chip-stars', text: stars(q.stars), title: `难度 ${q.stars} 星` }),
    el('span', { class: 'chip', text: questionLang(q) === 'cpp' ? 'C++11' : 'C99' }),
    el('span', { class: 'chip chip-' + state, text: state === 'passed' ? '✓ 已通过' : STATE_LABEL[state] }),
    r && r.attempts ? el('span', { class: 'chip', text: `提交过 ${r.attempts} 次` }) : null);
  host.append(el('h2', { class: 'st-title', id: 'st-title', tabindex: '-1', text: q.title || q.id }), meta,
    section('情境', q.scenario), section('要求', q.task), section('输入', q.input),
    section('输出', q.output), section('范围与限制', q.constraints));
  const samples = Array.isArray(q.samples) ? q.samples : [];
  samples.forEach((s, i) => {
    const input = String(s && s.input || '');
    const output = String(s && s.output || '');
    host.append(el('section', { class: 'st-section sample' },
      el('h3', { text: samples.length > 1 ? `样例 ${i + 1}` : '样例' }),
      el('div', { class: 'sample-grid' },
        el('div', { class: 'sample-box' }, el('div', { class: 'sample-head' }, el('span', { text: '输入' }),
          el('span', null, tryHandler ? el('button', { type: 'button', class: 'btn btn-tiny try-sample', text: '自测', title: '用这组输入马上运行一次自测', onclick: () => tryHandler(input) }) : null, ' ', copyButton(input, '样例输入'))),
          el('pre', { class: 'io', text: input || '（无输入）' })),
        el('div', { class: 'sample-box' }, el('div', { class: 'sample-head' }, el('span', { text: '输出' }), copyButton(output, '样例输出')),
          el('pre', { class: 'io', text: output })))));
  });
  host.scrollTop = 0;
}
