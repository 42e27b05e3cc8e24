// The bank view: what is installed, importing a bank file, exporting the bank.

import { $, el, clear } from '../lib/dom.js';
import { bankQuestions, TOPICS } from '../lib/bank.js';

export function renderBankView(bank, { onImport, onExport }) {
  const host = clear($('#view-bank'));
  const questions = bankQuestions(bank);
  const counts = TOPICS.map(([n, name]) => [name, questions.filter((q) => q.topic === n).length]);
  const file = el('input', { type: 'file', id: 'bank-file', accept: '.json,application/json', class: 'visually-hidden' });
  const message = el('div', { id: 'bank-message', class: 'bank-message', role: 'status', 'aria-live': 'polite', hidden: true });
  file.addEventListener('change', () => {
    const chosen = file.files && file.files[0];
    file.value = '';
    if (!chosen) return;
    showBankMessage(message, 'info', `正在读取 ${chosen.name}…`);
    onImport(chosen, message);
  });
  host.append(el('div', { class: 'bank-inner' },
    el('h2', { text: '题库' }),
    el('section', { class: 'panel' },
      el('dl', { class: 'bank-facts' },
        el('dt', { text: '名称' }), el('dd', { text: typeof bank.title === 'string' && bank.title ? bank.title : '（未命名）' }),
        el('dt', { text: '版本' }), el('dd', { text: typeof bank.revision === 'string' && bank.revision ? bank.revision : '—' }),
        el('dt', { text: '题目' }), el('dd', { text: `${questions.length} 道` })),
      el('ul', { class: 'bank-topics' }, counts.map(([name, n]) => el('li', null, el('span', { text: name }), el('strong', { text: String(n) }))))),
    el('section', { class: 'panel' },
      el('h3', { text: '导入题库文件' }),
      el('p', { text: '选一个题库 JSON 文件来替换现在的题库。替换前会先列出新增、改动和删除的题目，等你确认；原题库会自动备份。测试数据没变的题目保留通过标记，代码草稿全部保留。' }),
      el('div', { class: 'row' },
        el('label', { for: 'bank-file', class: 'btn btn-primary', tabindex: '0', id: 'bank-choose',
          onkeydown: (e) => { if (e.key === 'Enter' || e.key === ' ') { e.preventDefault(); file.click(); } } }, '选择题库文件…'),
        file),
      message),
    el('section', { class: 'panel' },
      el('h3', { text: '导出题库' }),
      el('p', { text: '把当前题库保存为 JSON 文件，便于备份或分享。' }),
      el('button', { type: 'button', class: 'btn', id: 'bank-export', text: '导出当前题库', onclick: onExport }))));
}

export function showBankMessage(box, kind, text) {
  box.hidden = false;
  box.className = 'bank-message bank-' + kind;
  box.textContent = text;
}
