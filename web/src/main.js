// Tavrin's page: exercise list, statement, editor, judging, progress and bank.

import { $, el, clear, toast, ask, show } from './lib/dom.js';
import { readToken, hasToken, call, callBytes } from './lib/api.js';
import { bankQuestions, questionLang, judgingBasis } from './lib/bank.js';
import {
  progress, loadProgress, saveProgress, record, saveDraft, dropDraft, noteVerdict, restamp, setting, changed,
} from './lib/progress.js';
import { createEditor } from './lib/editor.js';
import { inDesktop, post, listen, saveFile } from './lib/bridge.js';
import { setupFilters, renderList } from './views/list.js';
import { renderStatement } from './views/statement.js';
import { renderVerdict, renderError, renderBusy } from './views/verdict.js';
import { renderProgress } from './views/progress-view.js';
import { renderBankView, showBankMessage } from './views/bank-view.js';

const app = {
  bank: null,
  bankText: '',
  questions: [],
  byId: new Map(),
  current: null,
  lang: 'c',
  busy: false,
  status: null,
  verdicts: new Map(), // id -> { verdict | error, mode, lang }
  view: 'practice',
};
let editor = null;

function fatal(title, message) {
  const box = clear($('#fatal'));
  box.append(el('div', { class: 'fatal-box', role: 'alert' }, el('h1', { text: title }), el('p', { text: message })));
  box.hidden = false;
}

function banner(message, action) {
  const box = clear($('#banner'));
  if (!message) { box.hidden = true; return; }
  box.append(el('span', { text: message }));
  if (action) box.append(el('button', { type: 'button', class: 'btn btn-small', text: action.label, onclick: action.run }));
  box.hidden = false;
}

// ---- bank -----------------------------------------------------------------

async function fetchBank() {
  const { data, text } = await call('/api/bank');
  if (typeof data.error === 'string') return { error: data.error };
  return { bank: data, text };
}

function useBank(bank, text) {
  app.bank = bank;
  app.bankText = text;
  app.questions = bankQuestions(bank);
  app.byId = new Map(app.questions.map((q) => [q.id, q]));
}

// ---- exercise and editor ----------------------------------------------------

function starterFor(q) {
  return typeof q.starter === 'string' ? q.starter : '';
}

function openExercise(id, { focus = false } = {}) {
  const q = app.byId.get(id);
  if (!q) return;
  app.current = q;
  setting('last', id);
  const r = record(id);
  app.lang = r && (r.lang === 'c' || r.lang === 'cpp') ? r.lang : questionLang(q);
  loadCode();
  renderStatement(q);
  refreshList();
  const last = app.verdicts.get(id);
  if (last) showResult(last); else { clear($('#result')); $('#result-badge').hidden = true; }
  selectPane(last ? 'result' : 'statement');
  if (focus) editor.focus();
}

function loadCode() {
  const q = app.current;
  const r = record(q.id);
  const draft = r && r.drafts ? r.drafts[app.lang] : undefined;
  editor.load(typeof draft === 'string' ? draft : starterFor(q));
  for (const b of document.querySelectorAll('.lang-switch [data-lang]')) {
    b.setAttribute('aria-checked', String(b.dataset.lang === app.lang));
  }
  updateCompilerNote();
}

function onEdit(code) {
  if (!app.current) return;
  if (code === starterFor(app.current)) dropDraft(app.current.id, app.lang);
  else saveDraft(app.current.id, app.lang, code);
}

function switchLang(lang) {
  if (!app.current || lang === app.lang) return;
  app.lang = lang;
  const r = record(app.current.id, true);
  r.lang = lang;
  changed();
  loadCode();
}

async function resetCode() {
  if (!app.current) return;
  const choice = await ask('换回起始代码', '编辑器里的代码会被本题的起始代码替换。可以用 Ctrl+Z 撤销。', [
    { label: '替换', value: true, primary: true }, { label: '取消', value: false }]);
  if (choice) editor.replace(starterFor(app.current));
}

function refreshList() {
  renderList(app.questions, app.current && app.current.id, (id) => openExercise(id));
}

function selectPane(which) {
  const result = which === 'result';
  $('#tab-statement').setAttribute('aria-selected', String(!result));
  $('#tab-result').setAttribute('aria-selected', String(result));
  show($('#statement'), !result);
  show($('#result'), result);
}

// ---- judging ----------------------------------------------------------------

let busyTimer = 0;

function setBusy(label) {
  app.busy = !!label;
  for (const id of ['#run-samples', '#submit']) $(id).disabled = app.busy;
  const busy = $('#busy');
  clearInterval(busyTimer);
  if (!label) { busy.hidden = true; return; }
  const started = performance.now();
  const tick = () => { busy.textContent = `${label} ${((performance.now() - started) / 1000).toFixed(1)} 秒`; };
  tick();
  busy.hidden = false;
  busyTimer = setInterval(tick, 100);
}

async function judge(mode) {
  if (!app.current) return;
  if (app.busy) { toast('正在评测，请等这一次完成。'); return; }
  const q = app.current;
  const lang = app.lang;
  const code = editor.code;
  const label = mode === 'sample' ? '运行样例中…' : '评测中…';
  setBusy(label);
  renderBusy($('#result'), label);
  selectPane('result');
  const { data } = await call('/api/judge', { method: 'POST', body: { id: q.id, code, mode, lang } });
  setBusy('');
  const entry = { mode, lang, compare: q.compare };
  if (typeof data.error === 'string') entry.error = data.error;
  else if (typeof data.status === 'string') entry.verdict = data;
  else entry.error = '程序的回答无法识别。';
  app.verdicts.set(q.id, entry);
  if (entry.verdict && mode !== 'sample') {
    noteVerdict(q, entry.verdict);
    refreshList();
    cloudHook('afterVerdict');
  }
  if (app.current === q) {
    showResult(entry);
    if (entry.verdict && entry.verdict.status === 'accepted' && mode !== 'sample') renderStatement(q);
  }
}

function showResult(entry) {
  const host = $('#result');
  const badge = $('#result-badge');
  if (entry.error) {
    renderError(host, entry.error);
    badge.textContent = '!';
    badge.className = 'badge badge-bad';
  } else {
    const v = entry.verdict;
    const diags = renderVerdict(host, v, {
      mode: entry.mode, lang: entry.lang, compare: entry.compare,
      goTo: (line, col) => editor.goTo(line, col),
    });
    if (entry.lang === app.lang) editor.showDiagnostics(diags);
    badge.textContent = v.status === 'compile_error' ? '×' : `${v.passed}/${v.total}`;
    badge.className = 'badge ' + (v.status === 'accepted' ? 'badge-good' : 'badge-bad');
  }
  badge.hidden = false;
  host.scrollTop = 0;
}

// ---- export -----------------------------------------------------------------

function download(name, bytes, type) {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const a = el('a', { href: url, download: name, hidden: true });
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

async function exportCode() {
  if (!app.current) return;
  const name = `${app.current.id}.${app.lang === 'cpp' ? 'cpp' : 'c'}`;
  // GBK bytes, so the file opens correctly in Windows editors and consoles.
  const result = await callBytes('/api/export-code', { code: editor.code });
  if (!result.ok) { toast(result.error, 'error', 7000); return; }
  if (inDesktop()) {
    const answer = await saveFile(name, result.bytes);
    if (!answer.cancelled) toast(answer.message, answer.ok ? 'ok' : 'error');
  } else {
    download(name, result.bytes, 'application/octet-stream');
    toast(`已导出 ${name}（GBK 编码）。`, 'ok');
  }
}

async function exportBank() {
  const fresh = await fetchBank();
  if (fresh.error) { toast(fresh.error, 'error', 7000); return; }
  const bytes = new TextEncoder().encode(fresh.text);
  const revision = typeof fresh.bank.revision === 'string' && /^[\w.-]{1,40}$/.test(fresh.bank.revision) ? '-' + fresh.bank.revision : '';
  const name = `tavrin-bank${revision}.json`;
  if (inDesktop()) {
    const answer = await saveFile(name, bytes);
    if (!answer.cancelled) toast(answer.message, answer.ok ? 'ok' : 'error');
  } else {
    download(name, bytes, 'application/json');
    toast(`已导出 ${name}。`, 'ok');
  }
}

// ---- bank import ----------------------------------------------------------

async function importBank(file, box) {
  showBankMessage(box, 'info', `正在导入 ${file.name}…`);
  const before = new Map(app.questions.map((q) => [q.id, judgingBasis(q)]));
  let bytes;
  try { bytes = await file.arrayBuffer(); } catch { showBankMessage(box, 'error', '无法读取所选文件。'); return; }
  // The program validates the file as it is; its message is shown unchanged.
  const { data } = await call('/api/bank', { method: 'POST', body: bytes });
  if (typeof data.error === 'string') { showBankMessage(box, 'error', data.error); return; }
  if (data.ok !== true) { showBankMessage(box, 'error', '题库保存失败。'); return; }
  const fresh = await fetchBank();
  if (fresh.error) { showBankMessage(box, 'error', fresh.error); return; }
  useBank(fresh.bank, fresh.text);
  const carried = app.questions.filter((q) => before.get(q.id) === judgingBasis(q)).map((q) => q.id);
  const cleared = restamp(app.questions, carried);
  afterBankChange();
  showBankMessage($('#bank-message'), 'ok', `题库已导入：共 ${app.questions.length} 道题。`
    + (cleared ? `${cleared} 道题的判题依据有变化，已清除它们的通过标记。` : ''));
  await saveProgress();
}

// The bank view is drawn anew; the practice view follows the new bank.
function afterBankChange() {
  renderBankView(app.bank, { onImport: importBank, onExport: exportBank });
  const id = app.current && app.byId.has(app.current.id) ? app.current.id : app.questions[0] && app.questions[0].id;
  app.verdicts.clear();
  if (id) openExercise(id); else { app.current = null; renderStatement(null); refreshList(); }
}

// ---- status, saving, closing --------------------------------------------------

function updateCompilerNote() {
  const s = app.status;
  const box = $('#compiler-state');
  if (!s) { box.textContent = ''; return; }
  const parts = [s.available ? 'gcc ✓' : 'gcc ✗', s.cppAvailable ? 'g++ ✓' : 'g++ ✗'];
  box.textContent = parts.join(' · ');
  box.className = 'compiler-state' + (s.available && s.cppAvailable ? '' : ' missing');
  box.title = `C 编译器：${s.compiler || '未找到'}\nC++ 编译器：${s.cppCompiler || '未找到'}\n版本 ${s.version || ''}（${s.standard || ''}）\n日志：${s.logDir || ''}`;
  if (!s.available) {
    banner('没有找到 C 编译器 gcc，暂时无法评测。安装包自带的 GCC 可能被删除：请重新安装本程序，或安装 GCC（也可以是 Dev-C++）并把 gcc 所在目录加入 PATH，然后重新启动 Tavrin。');
  } else if (!s.cppAvailable && app.lang === 'cpp') {
    banner('没有找到 C++ 编译器 g++，无法按 C++11 评测。请重新安装本程序的 C++ 部件，或安装 g++ 并加入 PATH 后重新启动；也可以切换回 C99。');
  } else if (!progress.blocked) {
    banner('');
  }
}

async function loadStatus() {
  const { data } = await call('/api/status');
  if (typeof data.error === 'string') return;
  app.status = data;
  updateCompilerNote();
}

function onProgressEvent(kind) {
  const box = $('#save-state');
  if (kind === 'conflict') {
    box.textContent = '进度未保存';
    banner(progress.lastError || '账号已经切换，旧请求未写入。请重新打开页面。', { label: '重新打开页面', run: () => location.reload() });
  } else if (kind === 'error') {
    box.textContent = '进度保存失败，稍后重试';
    box.title = progress.lastError;
  } else if (kind === 'saved') {
    box.textContent = '进度已保存';
    box.title = '';
  } else {
    box.textContent = '有未保存的修改';
  }
}

async function answerClose() {
  const result = await saveProgress();
  if (result.ok) { post({ type: 'close-ready' }); return; }
  const stay = await ask('进度没有保存', `${result.error}\n现在关闭会丢失最近的修改。`, [
    { label: '留下来', value: true, primary: true }, { label: '仍然关闭', value: false }]);
  post({ type: stay ? 'close-cancel' : 'close-ready' });
}

async function quit() {
  const sure = await ask('退出 Tavrin', '保存进度并结束程序？', [
    { label: '退出', value: true, primary: true }, { label: '取消', value: false }]);
  if (!sure) return;
  const saved = await saveProgress();
  if (saved.error && !(await ask('进度没有保存', saved.error, [
    { label: '仍然退出', value: true }, { label: '取消', value: false, primary: true }]))) return;
  const { data } = await call('/api/shutdown', { method: 'POST', body: '{}' });
  if (data.ok) fatal('Tavrin 已退出', '可以关闭这个页面了。再次练习时，请重新启动 Tavrin。');
  else toast(data.error || '无法退出程序。', 'error');
}

// ---- views and keys -----------------------------------------------------------

function showView(name) {
  app.view = name;
  for (const v of ['practice', 'progress', 'bank']) {
    show($('#view-' + v), v === name);
    const tab = $('#nav-' + v);
    if (v === name) tab.setAttribute('aria-current', 'page'); else tab.removeAttribute('aria-current');
  }
  if (name === 'progress') renderProgress(app.questions);
  if (name === 'bank') renderBankView(app.bank, { onImport: importBank, onExport: exportBank });
}

function onKey(e) {
  if (e.defaultPrevented || !(e.ctrlKey || e.metaKey) || app.view !== 'practice') return;
  if (e.key === 'Enter') { e.preventDefault(); judge('tests'); }
  else if (e.key === "'") { e.preventDefault(); judge('sample'); }
}

function wire() {
  editor = createEditor($('#editor-host'), {
    onChange: onEdit, onRun: () => judge('sample'), onSubmit: () => judge('tests'),
  });
  setupFilters(refreshList);
  for (const b of document.querySelectorAll('.tabs [data-view]')) b.addEventListener('click', () => showView(b.dataset.view));
  for (const b of document.querySelectorAll('.lang-switch [data-lang]')) b.addEventListener('click', () => switchLang(b.dataset.lang));
  $('#tab-statement').addEventListener('click', () => selectPane('statement'));
  $('#tab-result').addEventListener('click', () => selectPane('result'));
  $('#run-samples').addEventListener('click', () => judge('sample'));
  $('#submit').addEventListener('click', () => judge('tests'));
  $('#reset-code').addEventListener('click', resetCode);
  $('#export-code').addEventListener('click', exportCode);
  $('#quit').addEventListener('click', quit);
  document.addEventListener('keydown', onKey);
  progress.onChange = onProgressEvent;
  // Last chance to write drafts when the page goes away.
  window.addEventListener('pagehide', () => { if (progress.dirty) saveProgress({ keepalive: true }); });
  document.addEventListener('visibilitychange', () => { if (document.visibilityState === 'hidden' && progress.dirty) saveProgress({ keepalive: true }); });
}

// ---- account and sync (cloud.js) ------------------------------------------------
// cloud.js is its own file; it fixes the profile before the progress loads and syncs it.

function cloudHook(name, ...args) {
  const cloud = globalThis.TavrinCloud;
  return cloud && typeof cloud[name] === 'function' ? cloud[name](...args) : undefined;
}

function redrawProgress() {
  refreshList();
  if (app.current) { loadCode(); renderStatement(app.current); }
  if (app.view === 'progress') renderProgress(app.questions);
}

const cloudPage = {
  call, progress, loadProgress, saveProgress, changed, refresh: redrawProgress, toast, ask,
  title: (id) => (app.byId.get(id) || {}).title || id,
};

async function boot() {
  if (!readToken(location.hash) || !hasToken()) {
    fatal('缺少会话信息', '请从 Tavrin 程序打开这个页面（程序会带上会话令牌）。');
    return;
  }
  wire();
  await cloudHook('start', cloudPage);
  const [bank, state] = await Promise.all([fetchBank(), loadProgress(), loadStatus()]);
  if (bank.error) { fatal('无法读取题库', bank.error); return; }
  if (state.error) { fatal('无法读取学习进度', state.error); return; }
  useBank(bank.bank, bank.text);
  // After a command-line import: pass marks of questions whose judging basis
  // did not change are carried over, the others are cleared.
  const { data } = await call('/api/restamp');
  const ids = Array.isArray(data.ids) ? data.ids.filter((x) => typeof x === 'string') : [];
  if (restamp(app.questions, ids) > 0) toast('题库已更新：部分题目的判题依据有变化，已清除它们的通过标记。', 'info', 7000);
  show($('#quit'), !inDesktop());
  const last = setting('last');
  const first = app.byId.has(last) ? last : app.questions[0] && app.questions[0].id;
  if (first) openExercise(first); else renderStatement(null);
  if (inDesktop()) {
    listen({ requestClose: answerClose });
    post({ type: 'ready' });
  }
  document.body.classList.add('ready');
  cloudHook('ready');
}

boot();
