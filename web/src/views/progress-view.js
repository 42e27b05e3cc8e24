// The progress view: totals, a bar per topic and a calendar of passes (SVG).

import { $, el, svg, clear, formatDate } from '../lib/dom.js';
import { TOPICS } from '../lib/bank.js';
import { progress } from '../lib/progress.js';
import { exerciseState } from './list.js';

// Passes per day over all exercises: Map 'YYYY-MM-DD' -> count.
export function passesByDay() {
  const days = new Map();
  for (const r of Object.values(progress.data.records)) {
    for (const d of Array.isArray(r.passDates) ? r.passDates : []) days.set(d, (days.get(d) || 0) + 1);
  }
  return days;
}

// Days with any run or submission (and every day with a pass): Set of 'YYYY-MM-DD'.
export function activeDays() {
  const days = new Set();
  for (const r of Object.values(progress.data.records)) {
    for (const d of Array.isArray(r.days) ? r.days : []) if (typeof d === 'string') days.add(d);
    for (const d of Array.isArray(r.passDates) ? r.passDates : []) if (typeof d === 'string') days.add(d);
  }
  return days;
}

function streak(days, today) {
  let n = 0;
  const d = new Date(today);
  if (!days.has(formatDate(d))) d.setDate(d.getDate() - 1);
  while (days.has(formatDate(d))) { n++; d.setDate(d.getDate() - 1); }
  return n;
}

function topicBars(questions, onTopic) {
  const rowH = 34;
  const width = 640;
  const labelW = 150;
  const barW = width - labelW - 80;
  const chart = svg('svg', { class: 'topic-chart', viewBox: `0 0 ${width} ${TOPICS.length * rowH + 8}`, role: 'img', 'aria-label': '各专题完成情况' });
  TOPICS.forEach(([n, name], i) => {
    const all = questions.filter((q) => q.topic === n);
    const passed = all.filter((q) => exerciseState(q.id) === 'passed').length;
    const tried = all.filter((q) => exerciseState(q.id) === 'tried').length;
    const y = i * rowH + 6;
    const part = (k) => (all.length ? (k / all.length) * barW : 0);
    const row = svg('g', { class: 'topic-row', 'data-topic': n, tabindex: all.length ? 0 : -1, role: 'button', 'aria-label': `${name}：已通过 ${passed} 题，共 ${all.length} 题，打开这个专题的题目` },
      svg('title', { text: `${name}：已通过 ${passed}，提交过没通过 ${tried}，共 ${all.length} 题。点一下打开这个专题的题目。` }),
      svg('text', { x: 0, y: y + 17, class: 'bar-label', text: `${n} ${name}` }),
      svg('rect', { x: labelW, y: y + 4, width: barW, height: 18, rx: 9, class: 'bar-bg' }),
      svg('rect', { x: labelW, y: y + 4, width: part(passed + tried), height: 18, rx: 9, class: 'bar-tried' }),
      svg('rect', { x: labelW, y: y + 4, width: part(passed), height: 18, rx: 9, class: 'bar-passed' }),
      svg('text', { x: labelW + barW + 10, y: y + 17, class: 'bar-value', text: `${passed}/${all.length}` }));
    if (all.length) {
      row.addEventListener('click', () => onTopic(n));
      row.addEventListener('keydown', (e) => { if (e.key === 'Enter' || e.key === ' ') { e.preventDefault(); onTopic(n); } });
    }
    chart.append(row);
  });
  return chart;
}

function heatMap(days, today) {
  const weeks = 53;
  const cell = 13;
  const gap = 3;
  const left = 30;
  const top = 20;
  const right = 24; // room for a month label that starts in the last column
  const end = new Date(today);
  const start = new Date(end);
  start.setDate(start.getDate() - (weeks - 1) * 7 - ((end.getDay() + 6) % 7)); // weeks start on Monday
  const chart = svg('svg', {
    class: 'heatmap', viewBox: `0 0 ${left + weeks * (cell + gap) + right} ${top + 7 * (cell + gap) + 4}`,
    role: 'img', 'aria-label': '过去一年每天通过的题目数',
  });
  ['一', '三', '五'].forEach((d, i) => chart.append(svg('text', { x: 0, y: top + (i * 2) * (cell + gap) + 10, class: 'hm-label', text: d })));
  const d = new Date(start);
  let lastMonth = -1;
  for (let w = 0; w < weeks; w++) {
    for (let k = 0; k < 7; k++) {
      if (d > end) break;
      const key = formatDate(d);
      const count = days.get(key) || 0;
      const level = count === 0 ? 0 : count === 1 ? 1 : count <= 3 ? 2 : count <= 6 ? 3 : 4;
      if (k === 0 && d.getMonth() !== lastMonth) {
        lastMonth = d.getMonth();
        chart.append(svg('text', { x: left + w * (cell + gap), y: 12, class: 'hm-label', text: `${d.getMonth() + 1}月` }));
      }
      chart.append(svg('rect', {
        x: left + w * (cell + gap), y: top + k * (cell + gap), width: cell, height: cell, rx: 3,
        class: 'hm hm-' + level, 'data-date': key, 'data-count': count,
      }, svg('title', { text: `${key}：通过 ${count} 题` })));
      d.setDate(d.getDate() + 1);
    }
  }
  return chart;
}

// opts: { last: question | null, onContinue(), onTopic(topic) }
export function renderProgress(questions, today = new Date(), opts = {}) {
  const host = clear($('#view-progress'));
  const days = passesByDay();
  const active = activeDays();
  const passed = questions.filter((q) => exerciseState(q.id) === 'passed').length;
  const attempts = Object.values(progress.data.records).reduce((s, r) => s + (r.attempts || 0), 0);
  const cards = [
    ['已通过', `${passed} 题`, `一共 ${questions.length} 题`],
    ['提交次数', `${attempts} 次`, '点“提交”的次数'],
    ['连续练习', `${streak(active, today)} 天`, '每天至少运行或提交一次'],
    ['练习天数', `${active.size} 天`, '运行或提交过代码的日子'],
  ];
  const head = el('div', { class: 'progress-head' }, el('h2', { text: '学习进度' }),
    opts.last ? el('button', { type: 'button', class: 'btn btn-primary', id: 'continue-last', text: `继续上次：${opts.last.title || opts.last.id}`, onclick: opts.onContinue }) : null);
  host.append(el('div', { class: 'progress-inner' },
    head,
    el('div', { class: 'cards' }, cards.map(([k, v, s]) => el('div', { class: 'card' },
      el('div', { class: 'card-key', text: k }), el('div', { class: 'card-value', text: v }), el('div', { class: 'card-sub', text: s })))),
    el('section', { class: 'panel' }, el('h3', { text: '各专题（点一下打开这个专题的题目）' }), el('div', { class: 'legend' },
      el('span', { class: 'key key-passed' }), '已通过', el('span', { class: 'key key-tried' }), '提交过没通过'), topicBars(questions, opts.onTopic || (() => {}))),
    el('section', { class: 'panel' }, el('h3', { text: '通过日历（每天通过的题数）' }), heatMap(days, today),
      el('div', { class: 'legend' }, '少', [0, 1, 2, 3, 4].map((l) => el('span', { class: 'key hm-key hm-' + l })), '多'))));
}
