// The exercise list: grouped by topic, with stars, pass marks, search and filters.

import { $, el, clear } from '../lib/dom.js';
import { TOPICS, TOPIC_NAME } from '../lib/bank.js';
import { record } from '../lib/progress.js';

export function stars(n) {
  const k = Math.max(0, Math.min(5, n | 0));
  return '★'.repeat(k) + '☆'.repeat(5 - k);
}

export function exerciseState(id) {
  const r = record(id);
  if (!r) return 'new';
  if (r.best === 'accepted') return 'passed';
  if (r.attempts > 0) return 'tried';
  // Code written but never submitted: nothing has failed yet.
  if (Object.values(r.drafts || {}).some((d) => d)) return 'started';
  return 'new';
}

export const STATE_LABEL = { passed: '已通过', tried: '提交过没通过', started: '写了代码还没提交', new: '还没开始' };

export function setupFilters(onChange) {
  const topic = $('#filter-topic');
  clear(topic);
  topic.append(el('option', { value: '0', text: '全部专题' }));
  for (const [n, name] of TOPICS) topic.append(el('option', { value: String(n), text: `${n} ${name}` }));
  for (const id of ['#search', '#filter-topic', '#filter-stars', '#filter-status']) {
    $(id).addEventListener('input', onChange);
  }
}

function filters() {
  return {
    text: $('#search').value.trim().toLowerCase(),
    topic: Number($('#filter-topic').value),
    stars: Number($('#filter-stars').value),
    status: $('#filter-status').value,
  };
}

function matches(q, f) {
  if (f.topic && q.topic !== f.topic) return false;
  if (f.stars && q.stars !== f.stars) return false;
  const state = exerciseState(q.id);
  if (f.status === 'todo' && state === 'passed') return false;
  if (f.status !== 'all' && f.status !== 'todo' && state !== f.status) return false;
  if (f.text) {
    const hay = [q.id, q.title, q.scenario, q.task].map((s) => String(s || '').toLowerCase()).join('\n');
    if (!f.text.split(/\s+/).every((word) => hay.includes(word))) return false;
  }
  return true;
}

export function renderList(questions, currentId, onOpen) {
  const f = filters();
  const list = $('#exercise-list');
  // Redrawing removes the focused option: focus comes back to the list, never to the page body.
  const refocus = list.contains(document.activeElement);
  const host = clear(list);
  const byTopic = new Map();
  for (const q of questions) {
    const key = TOPIC_NAME.has(q.topic) ? q.topic : 0;
    if (!byTopic.has(key)) byTopic.set(key, []);
    byTopic.get(key).push(q);
  }
  let shown = 0;
  for (const [n] of [...TOPICS, [0]]) {
    const all = byTopic.get(n);
    if (!all) continue;
    const visible = all.filter((q) => matches(q, f));
    if (!visible.length) continue;
    const passed = all.filter((q) => exerciseState(q.id) === 'passed').length;
    host.append(el('div', { class: 'topic-head', role: 'presentation', 'aria-hidden': 'true' },
      el('span', { text: n ? `${n} · ${TOPIC_NAME.get(n)}` : '其他' }),
      el('span', { class: 'topic-count', text: `${passed}/${all.length}`, title: `已通过 ${passed} 题，共 ${all.length} 题` })));
    for (const q of visible) {
      const state = exerciseState(q.id);
      shown++;
      // One tab stop for the whole list: only the current option is in the tab order.
      host.append(el('div', {
        role: 'option', class: 'exercise-item state-' + state, tabindex: '-1',
        'aria-current': q.id === currentId ? 'true' : null, 'aria-selected': q.id === currentId ? 'true' : 'false',
        'aria-label': `${q.title || q.id}，${n ? TOPIC_NAME.get(n) + '，' : ''}${STATE_LABEL[state]}，难度 ${q.stars} 星`,
        dataset: { id: q.id }, onclick: () => onOpen(q.id),
      },
      el('span', { class: 'mark', title: STATE_LABEL[state] }),
      el('span', { class: 'item-title', text: q.title || q.id }),
      el('span', { class: 'item-stars', text: stars(q.stars) })));
    }
  }
  if (!shown) host.append(el('p', { class: 'empty', text: '没有符合条件的题目。' }));
  const total = questions.length;
  const passed = questions.filter((q) => exerciseState(q.id) === 'passed').length;
  $('#list-count').textContent = shown === total ? `共 ${total} 题，已通过 ${passed} 题` : `显示 ${shown} / ${total} 题`;
  const current = host.querySelector('[aria-current="true"]') || host.querySelector('.exercise-item');
  if (current) { current.tabIndex = 0; current.scrollIntoView({ block: 'nearest' }); }
  if (refocus && current) current.focus();
}

// Arrow keys move through the options, Home/End to the ends, Enter or Space opens one.
export function setupListKeys(onOpen) {
  const host = $('#exercise-list');
  host.addEventListener('keydown', (e) => {
    const items = [...host.querySelectorAll('.exercise-item')];
    const at = items.indexOf(document.activeElement);
    if (at < 0) return;
    let to = -1;
    if (e.key === 'ArrowDown') to = Math.min(items.length - 1, at + 1);
    else if (e.key === 'ArrowUp') to = Math.max(0, at - 1);
    else if (e.key === 'Home') to = 0;
    else if (e.key === 'End') to = items.length - 1;
    else if (e.key === 'PageDown') to = Math.min(items.length - 1, at + 10);
    else if (e.key === 'PageUp') to = Math.max(0, at - 10);
    else if ((e.key === 'Enter' || e.key === ' ') && !e.ctrlKey && !e.metaKey) { e.preventDefault(); onOpen(items[at].dataset.id, { keyboard: true }); return; }
    else return;
    e.preventDefault();
    for (const item of items) item.tabIndex = -1;
    items[to].tabIndex = 0;
    items[to].focus();
    items[to].scrollIntoView({ block: 'nearest' });
  });
}
