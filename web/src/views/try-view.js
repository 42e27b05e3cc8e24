// 自测: run the code once on input the learner types, and show what it printed.

import { $, el, clear } from '../lib/dom.js';
import { explainExit } from '../lib/exitcodes.js';
import { writesOutput } from '../lib/codecheck.js';
import { lostOutputNote } from './verdict.js';
import { parseDiagnostics, adviceFor } from '../lib/diagnostics.js';

export function setupTry({ onRun }) {
  const host = clear($('#try'));
  const input = el('textarea', { id: 'try-input', class: 'try-input', rows: 6, spellcheck: 'false',
    'aria-label': '自测输入', placeholder: '在这里输入要交给程序的内容（和从键盘输入一样），然后点“运行”。' });
  const out = el('div', { id: 'try-result', class: 'try-result', role: 'status', 'aria-live': 'polite' });
  host.append(
    el('p', { class: 'muted try-note', text: '用自己的输入运行一次，看看程序会输出什么。限制和评测时一样：1.5 秒、64 KB 输出；自测不计入提交次数。' }),
    el('div', { class: 'io-head' }, el('label', { for: 'try-input', class: 'io-title', text: '输入' }),
      el('button', { type: 'button', class: 'btn btn-primary btn-small', id: 'try-run', text: '运行', onclick: () => onRun(input.value) })),
    input,
    out);
}

export function tryInput(text) {
  $('#try-input').value = text;
}

export function tryBusy(label) {
  const out = clear($('#try-result'));
  $('#try-run').disabled = !!label;
  if (label) out.append(el('div', { class: 'verdict-busy' }, el('span', { class: 'spinner', 'aria-hidden': 'true' }), el('span', { text: label })));
}

const STATUS = {
  ok: (r) => `程序正常结束，用时 ${r.ms} 毫秒。`,
  timeout: () => '程序运行超过 1.5 秒，被停了下来。是不是在等更多的输入，或者循环停不下来？',
  output_limit: () => '程序输出超过 64 KB，被停了下来，多半是死循环在不停打印。',
  runtime_error: (r) => {
    const e = explainExit(r.exitCode);
    return `程序异常结束：${e ? `${e.title}。${e.detail}` : `退出码 ${r.exitCode}`}`;
  },
  launch_error: () => '程序没能启动。可能被安全软件拦下了，或者电脑资源不够。',
};

// answer: the program's answer to /api/run, or { error }.
export function showTry(answer, goTo, { code = '', lang = 'c' } = {}) {
  tryBusy('');
  const out = clear($('#try-result'));
  if (typeof answer.error === 'string') {
    out.append(el('div', { class: 'verdict-error', role: 'alert' }, el('strong', { text: '没能运行' }), el('p', { text: answer.error })));
    return;
  }
  if (!answer.compiled) {
    const diags = parseDiagnostics(answer.diagnostics).filter((d) => d.severity !== 'note');
    const advice = adviceFor(diags, code, lang);
    const first = diags.findIndex((d) => d.severity === 'error');
    const a = first >= 0 ? advice[first] : null;
    out.append(el('div', { class: 'try-status try-bad' }, '编译没有通过',
      a ? [el('span', { text: '：' }), el('button', { type: 'button', class: 'link', text: `第 ${a.line} 行`, onclick: () => goTo(a.line, a.col) }),
        a.hint ? `，${a.hint}` : ''] : '。'),
    el('pre', { class: 'io try-diagnostics', text: answer.diagnostics || '（编译器没有输出）' }));
    return;
  }
  const r = answer.run || {};
  const say = STATUS[r.status] || (() => String(r.status));
  out.append(el('div', { class: 'try-status ' + (r.status === 'ok' ? 'try-good' : 'try-bad') }, say(r)),
    el('div', { class: 'io-title', text: '程序的输出' }),
    el('pre', { class: 'io try-console' + (r.output ? '' : ' muted'), text: r.output || '（程序没有输出）' }));
  if (r.status === 'runtime_error' && !r.output && writesOutput(code)) out.append(lostOutputNote());
  if (r.nul) out.append(el('p', { class: 'muted', text: '输出里有空字符 NUL（\\0），上面显示为 ?。' }));
}
