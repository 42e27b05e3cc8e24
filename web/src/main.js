// Tavrin's page: exercise list, statement, editor, judging, progress and bank.

import { $, el, clear, toast, ask, show } from './lib/dom.js';
import { readToken, hasToken, call, callBytes, NO_SERVICE } from './lib/api.js';
import { bankQuestions, questionLang, judgingBasis, bankChanges } from './lib/bank.js';
import {
  progress, loadProgress, saveProgress, saveOnLeave, pullProgress, record, saveDraft, dropDraft, noteVerdict, noteDay, restamp, setting, changed,
  isPassed, seenTips, noteTips,
} from './lib/progress.js';
import { createEditor, FONT_SIZES } from './lib/editor.js';
import { adviceFor, parseDiagnostics } from './lib/diagnostics.js';
import { inDesktop, post, listen, saveFile } from './lib/bridge.js';
import { setupFilters, renderList, setupListKeys } from './views/list.js';
import { renderStatement, onTrySample } from './views/statement.js';
import { renderVerdict, renderError, renderBusy } from './views/verdict.js';
import { renderProgress } from './views/progress-view.js';
import { renderHistory, resultWords, when } from './views/history-view.js';
import { setupTry, tryInput, tryBusy, showTry } from './views/try-view.js';
import { failuresInARow } from './lib/history.js';
import { renderBankView, showBankMessage } from './views/bank-view.js';
import * as cloud from './cloud.js';

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

// One notice under the top bar; actions: [{ label, run }] (or one action).
function banner(message, action, kind = '') {
  const box = clear($('#banner'));
  box.className = 'banner' + (kind ? ' banner-' + kind : '');
  if (!message) { box.hidden = true; return; }
  box.append(el('span', { text: message }));
  for (const a of [].concat(action || [])) box.append(el('button', { type: 'button', class: 'btn btn-small', text: a.label, onclick: a.run }));
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

function openExercise(id, { focus = false, keyboard = false } = {}) {
  const q = app.byId.get(id);
  if (!q) return;
  const fromDrawer = document.body.classList.contains('list-open');
  showList(false);
  app.current = q;
  setting('last', id);
  const r = record(id);
  app.lang = r && (r.lang === 'c' || r.lang === 'cpp') ? r.lang : questionLang(q);
  loadCode();
  renderStatement(q);
  refreshList();
  const last = app.verdicts.get(id);
  if (last) showResult(last); else showLastSubmission(r);
  selectPane(last ? 'result' : 'statement');
  if (focus) editor.focus();
  // Opened from the keyboard (or from the list drawer, which has just closed): reading starts at the title.
  else if (keyboard || fromDrawer) { selectPane('statement'); $('#st-title').focus(); }
}

// The exercise list as a drawer on narrow screens.
function showList(on) {
  document.body.classList.toggle('list-open', on);
  $('#toggle-list').setAttribute('aria-expanded', String(on));
  if (on) {
    const current = $('#exercise-list .exercise-item[tabindex="0"]');
    if (current) current.focus();
  }
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

const LANG_NAME = { c: 'C99', cpp: 'C++11' };

// Switching the language never throws text away: the code on screen goes
// along (it is usually the very code that was written in the wrong language),
// and the other language's own earlier draft is offered when there is one.
// The code on screen stays saved as the old language's draft as well.
async function switchLang(lang) {
  if (!app.current || lang === app.lang) return;
  const q = app.current;
  const code = editor.code;
  const starter = starterFor(q);
  const r = record(q.id, true);
  const theirs = r.drafts && typeof r.drafts[lang] === 'string' ? r.drafts[lang] : null;
  const written = code !== starter && code.trim() !== '';
  let next = code;
  if (!written) next = theirs !== null ? theirs : starter;
  else if (theirs !== null && theirs !== code && theirs !== starter) {
    const choice = await ask(`切换到 ${LANG_NAME[lang]}`,
      `这道题之前在 ${LANG_NAME[lang]} 下也写过一份代码。要用哪一份？另一份不会丢，切换回去还能看到。`, [
        { label: '带上现在的代码', value: 'mine', primary: true },
        { label: `打开之前的 ${LANG_NAME[lang]} 代码`, value: 'theirs' },
        { label: '取消', value: null }]);
    if (!choice || app.current !== q) return;
    next = choice === 'mine' ? code : theirs;
  }
  if (written) saveDraft(q.id, app.lang, code);
  app.lang = lang;
  r.lang = lang;
  changed();
  for (const b of document.querySelectorAll('.lang-switch [data-lang]')) {
    b.setAttribute('aria-checked', String(b.dataset.lang === app.lang));
  }
  // One undoable edit, so Ctrl+Z brings the earlier text back too.
  if (next !== code) editor.replace(next);
  else if (written) saveDraft(q.id, lang, code);
  updateCompilerNote();
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
  for (const name of ['statement', 'result', 'try', 'history']) {
    $('#tab-' + name).setAttribute('aria-selected', String(name === which));
    show($('#' + name), name === which);
  }
  if (which === 'history') drawHistory();
}

function drawHistory() {
  if (!app.current) return;
  renderHistory(record(app.current.id), {
    current: () => editor.code,
    restore: (e) => {
      if (e.lang !== app.lang) { app.lang = e.lang; const r = record(app.current.id, true); r.lang = e.lang; changed(); markLang(); }
      editor.replace(e.code);
      toast('这次提交的代码已放回编辑器。按 Ctrl+Z 可以撤销。', 'ok');
    },
  });
}

function markLang() {
  for (const b of document.querySelectorAll('.lang-switch [data-lang]')) {
    b.setAttribute('aria-checked', String(b.dataset.lang === app.lang));
  }
  updateCompilerNote();
}

// ---- judging ----------------------------------------------------------------

let busyTimer = 0;

let pollTimer = 0;
const judgeState = { where: '', stopAsked: false };

// label: what runs; track: ask the program which case runs and offer to stop.
function setBusy(label, { track = false } = {}) {
  app.busy = !!label;
  // A button about to be disabled would drop focus to the page body: the result pane takes it.
  if (label && ['run-samples', 'submit', 'try-run', 'verdict-submit'].includes(document.activeElement && document.activeElement.id)) {
    const pane = document.activeElement.id === 'try-run' ? $('#try') : $('#result');
    pane.focus();
  }
  for (const id of ['#run-samples', '#submit', '#try-run']) { const b = $(id); if (b) b.disabled = app.busy; }
  const busy = $('#busy');
  clearInterval(busyTimer);
  clearInterval(pollTimer);
  judgeState.where = '';
  if (!label) { busy.hidden = true; return; }
  judgeState.stopAsked = false;
  const started = performance.now();
  const tick = () => {
    busy.textContent = `${label} ${((performance.now() - started) / 1000).toFixed(1)} 秒`;
    const where = $('#judge-where');
    if (where) where.textContent = judgeState.where;
  };
  tick();
  busy.hidden = false;
  busyTimer = setInterval(tick, 100);
  if (track) {
    const unit = label.startsWith('运行样例') ? '样例' : '测试点';
    pollTimer = setInterval(async () => {
      const { data } = await call('/api/judge/progress');
      if (!app.busy || !data || data.running !== true) return;
      judgeState.where = data.stopping ? '正在停止…' : data.case > 0 ? `第 ${data.case}/${data.total} 个${unit}` : '编译中';
    }, 250);
  }
}

async function stopJudging() {
  judgeState.stopAsked = true;
  const button = $('#stop-judge');
  if (button) button.disabled = true;
  judgeState.where = '正在停止…';
  await call('/api/judge/stop', { method: 'POST', body: '{}' });
}

async function judge(mode) {
  if (!app.current) return;
  if (app.busy) { toast('正在评测，请等这一次完成。'); return; }
  const q = app.current;
  const lang = app.lang;
  const code = editor.code;
  const label = mode === 'sample' ? '运行样例中…' : '评测中…';
  setBusy(label, { track: true });
  renderBusy($('#result'), label, el('span', { class: 'judge-where' },
    el('span', { id: 'judge-where' }),
    el('button', { type: 'button', id: 'stop-judge', class: 'btn btn-small', text: '停止', title: '当前测试点跑完后停止，剩下的不再运行', onclick: stopJudging })));
  selectPane('result');
  const { data } = await call('/api/judge', { method: 'POST', body: { id: q.id, code, mode, lang } });
  setBusy('');
  const stopped = judgeState.stopAsked && Array.isArray(data.cases) && data.cases.some((c) => c.status === 'skipped');
  const entry = { mode, lang, compare: q.compare, code, stopped };
  if (mode === 'sample' && !data.error) noteDay(q.id);
  if (typeof data.error === 'string') { entry.error = data.error; if (data.error === NO_SERVICE) showStopped(); }
  else if (typeof data.status === 'string') entry.verdict = data;
  else entry.error = '程序的回答无法识别。';
  app.verdicts.set(q.id, entry);
  // A run the learner stopped is no result: it is shown, not counted.
  if (entry.verdict && mode !== 'sample' && !stopped) {
    noteVerdict(q, entry.verdict, new Date(), { lang, code });
    refreshList();
    cloudHook('afterVerdict');
  }
  if (app.current === q) {
    showResult(entry);
    if (entry.verdict && entry.verdict.status === 'accepted' && mode !== 'sample') renderStatement(q);
  }
}

// 自测: the code in the editor on the learner's own input.
function openTry(text) {
  tryInput(text);
  clear($('#try-result'));
  selectPane('try');
  runOwnInput(text);
}

async function runOwnInput(input) {
  if (!app.current) return;
  if (app.busy) { toast('正在评测，请等这一次完成。'); return; }
  const q = app.current;
  setBusy('运行中…');
  const pane = $('#try');
  const hadFocus = pane.contains(document.activeElement);
  tryBusy('编译并运行中…');
  const code = editor.code;
  const lang = app.lang;
  const { data } = await call('/api/run', { method: 'POST', body: { code, lang, input } });
  setBusy('');
  if (data.error === NO_SERVICE) showStopped();
  if (!data.error) noteDay(q.id);
  showTry(data, (line, col) => editor.goTo(line, col), { code, lang });
  if (hadFocus && !pane.contains(document.activeElement)) pane.focus();
  if (typeof data.diagnostics === 'string' && app.current === q) markCompile(parseDiagnostics(data.diagnostics), code, lang);
}

// The next exercise in the list's order that is not passed yet (wrapping round).
function nextExercise(q) {
  const list = app.questions;
  const at = list.indexOf(q);
  for (let k = 1; k < list.length; k++) {
    const cand = list[(at + k) % list.length];
    if (!isPassed(cand.id)) return cand;
  }
  return null;
}

// After a reload or restart the result tab holds the last submission from the history.
function showLastSubmission(r) {
  const host = clear($('#result'));
  const badge = $('#result-badge');
  const list = r && Array.isArray(r.history) ? r.history : [];
  const e = list[list.length - 1];
  if (!e || typeof e.status !== 'string') { badge.hidden = true; return; }
  host.append(el('div', { class: 'verdict-head verdict-' + e.status, role: 'status' },
    el('div', { class: 'verdict-status', text: resultWords(e) }),
    el('div', { class: 'verdict-meta', text: `上次提交 · ${e.lang === 'cpp' ? 'C++11' : 'C99'} · ${when(e.at)}` })),
  el('p', { class: 'muted last-note', text: '这是上次提交的结果。每个测试点的详细对照没有保存：再点“提交”就能看到；提交的代码在“提交记录”里。' }));
  badge.textContent = e.status === 'compile_error' ? '编译错误' : `${e.passed}/${e.total}`;
  badge.className = 'badge ' + (e.status === 'accepted' ? 'badge-good' : 'badge-bad');
  badge.hidden = false;
}

// The editor marks the messages of the latest compile while its code is on screen.
function markCompile(diags, code, lang) {
  const shown = diags.filter((d) => d.severity !== 'note');
  const advice = adviceFor(shown, code, lang);
  editor.showDiagnostics(lang === app.lang ? shown.map((d, k) => ({ ...d, line: advice[k].line, col: advice[k].col, hint: advice[k].hint })) : [], code);
}

// How many of each exercise's own hints have been opened since the page was loaded.
const hintsSeen = new Map();

function showResult(entry) {
  const host = $('#result');
  const hadFocus = host.contains(document.activeElement);
  const badge = $('#result-badge');
  if (entry.error) {
    renderError(host, entry.error);
    badge.textContent = '!';
    badge.className = 'badge badge-bad';
  } else {
    const v = entry.verdict;
    const id = app.current.id;
    const next = nextExercise(app.current);
    const diags = renderVerdict(host, v, {
      mode: entry.mode, lang: entry.lang, compare: entry.compare, code: entry.code || '', stopped: !!entry.stopped,
      goTo: (line, col) => editor.goTo(line, col),
      onSubmit: () => judge('tests'),
      onNext: next ? () => openExercise(next.id, { focus: true }) : null,
      seenTips: seenTips(id),
      noteTips: (titles) => noteTips(id, titles),
      failures: failuresInARow(record(id)),
      onTryInput: openTry,
      reference: app.current.reference,
      hints: app.current.hints,
      hintsSeen: hintsSeen.get(id) || 0,
      onHintSeen: (count) => hintsSeen.set(id, count),
      confirm: (title, text, yes) => ask(title, text, [{ label: yes, value: true, primary: true }, { label: '再想想', value: false }]),
      onSawSolution: () => { const r = record(id, true); r.sawSolution = (r.sawSolution || 0) + 1; changed(); },
    });
    markCompile(diags, entry.code || '', entry.lang);
    badge.textContent = v.status === 'compile_error' ? '编译错误' : `${v.passed}/${v.total}`;
    badge.className = 'badge ' + (v.status === 'accepted' ? 'badge-good' : 'badge-bad');
  }
  badge.hidden = false;
  host.scrollTop = 0;
  if (hadFocus && !host.contains(document.activeElement)) host.focus();
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

function titles(list, max = 6) {
  const names = list.slice(0, max).map((q) => `《${q.title || q.id}》`).join('');
  return list.length > max ? `${names} 等 ${list.length} 道` : names;
}

function changesView(c) {
  const line = (label, list, cls) => (list.length
    ? el('li', { class: cls }, el('strong', { text: `${label} ${list.length} 道：` }), titles(list)) : null);
  const box = el('div', { class: 'import-preview' },
    el('ul', null,
      line('新增', c.added, 'ch-added'), line('有改动', c.changed, 'ch-changed'), line('删除', c.removed, 'ch-removed'),
      !c.added.length && !c.changed.length && !c.removed.length ? el('li', { text: '题目内容和现在的完全一样。' }) : null));
  if (c.losing.length) {
    box.append(el('p', { class: 'ch-losing' }, el('strong', { text: `这些已通过的题目会失去通过标记：` }), titles(c.losing, 10),
      '（测试数据变了或题目被删除）。'));
  }
  box.append(el('p', { class: 'dialog-text', text: '代码草稿都会保留，原题库会先自动备份。' }));
  return box;
}

async function importBank(file, box) {
  let bytes;
  try { bytes = await file.arrayBuffer(); } catch { showBankMessage(box, 'error', '无法读取所选文件。'); return; }
  // A file the page can read is shown before anything changes; one it cannot
  // read goes to the program as it is, and the program's message is shown unchanged.
  let incoming = null;
  try { incoming = bankQuestions(JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(bytes))); } catch { incoming = null; }
  let losing = [];
  if (incoming && incoming.length) {
    const c = bankChanges(app.questions, incoming, isPassed);
    losing = c.losing;
    const go = await ask(`导入 ${file.name}？`, changesView(c), [
      { label: '替换题库', value: true, primary: true }, { label: '取消', value: false }]);
    if (!go) { showBankMessage(box, 'info', '没有导入，题库保持原样。'); return; }
  }
  showBankMessage(box, 'info', `正在导入 ${file.name}…`);
  const before = new Map(app.questions.map((q) => [q.id, judgingBasis(q)]));
  const { data } = await call('/api/bank', { method: 'POST', body: bytes });
  if (typeof data.error === 'string') { showBankMessage(box, 'error', data.error); return; }
  if (data.ok !== true) { showBankMessage(box, 'error', '题库保存失败。'); return; }
  const fresh = await fetchBank();
  if (fresh.error) { showBankMessage(box, 'error', fresh.error); return; }
  useBank(fresh.bank, fresh.text);
  const carried = app.questions.filter((q) => before.get(q.id) === judgingBasis(q)).map((q) => q.id);
  const cleared = restamp(app.questions, carried);
  afterBankChange();
  showBankMessage($('#bank-message'), 'ok', `题库已导入：一共 ${app.questions.length} 道题。`
    + (losing.length ? `\n这些题目的测试数据变了或被删除，通过标记已清除：${titles(losing, 20)}。`
      : cleared ? `\n${cleared} 道题的测试数据变了，已清除它们的通过标记。` : ''));
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

function copyCode() {
  const code = editor.code;
  navigator.clipboard.writeText(code).then(() => toast('代码已复制，可以粘贴到记事本里保存。', 'ok'),
    () => { editor.focus(); editor.selectAll(); toast('浏览器不让复制：代码已全选，请按 Ctrl+C。', 'error', 7000); });
}

// Saved by the page itself: the program is not there to write the file.
function downloadCode() {
  if (!app.current) return;
  const name = `${app.current.id}.${app.lang === 'cpp' ? 'cpp' : 'c'}`;
  download(name, new TextEncoder().encode(editor.code), 'text/plain;charset=utf-8');
}

function showStopped() {
  const box = $('#save-state');
  box.textContent = '没有保存';
  box.className = 'save-state save-failed';
  banner('Tavrin 已经停止运行，刚才的修改没有保存。先复制或下载代码留个备份，再重新启动 Tavrin。',
    [{ label: '复制代码', run: copyCode }, { label: '下载代码', run: downloadCode }], 'stopped');
}

function onProgressEvent(kind) {
  const box = $('#save-state');
  box.className = 'save-state';
  if (kind === 'conflict') {
    box.textContent = '没有保存';
    banner(progress.lastError || '账号已经切换，旧请求未写入。请重新打开页面。', { label: '重新打开页面', run: () => location.reload() });
  } else if (kind === 'merged') {
    followOtherPage();
  } else if (kind === 'stopped') {
    showStopped();
  } else if (kind === 'error') {
    box.textContent = '保存失败，稍后再试';
    box.className = 'save-state save-failed';
    box.title = progress.lastError;
  } else if (kind === 'saved') {
    box.textContent = '已自动保存';
    box.title = '';
    if ($('#banner').classList.contains('banner-stopped')) banner('');
  } else {
    box.textContent = '保存中…';
  }
}

// Another page saved progress that this page has now merged in: the list and
// marks follow, and so does the editor when the merged draft of the open
// exercise is not the text on screen (the newer of the two won; the other is
// one Ctrl+Z away and kept among the earlier versions).
function followOtherPage() {
  refreshList();
  if (!app.current) return;
  const r = record(app.current.id);
  const draft = r && r.drafts ? r.drafts[app.lang] : undefined;
  const want = typeof draft === 'string' ? draft : starterFor(app.current);
  if (want !== editor.code) {
    editor.replace(want);
    toast('另一个页面保存了这道题较新的代码，已经换上。按 Ctrl+Z 可以换回刚才的代码。', 'info', 7000);
  }
  if (app.view === 'progress') showView('progress');
}

// Ctrl+S: the draft goes to the progress file now (never the browser's "save page").
async function saveNow() {
  if (app.current) onEdit(editor.code);
  const result = await saveProgress();
  if (result.ok) toast('草稿已保存。', 'ok', 1800);
  else if (!progress.stopped) toast(result.error || '保存失败。', 'error');
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

// ---- editor look ------------------------------------------------------------------

function zoom(step) {
  const now = FONT_SIZES.indexOf(Number(setting('fontSize')) || 14);
  const at = Math.min(FONT_SIZES.length - 1, Math.max(0, (now < 0 ? FONT_SIZES.indexOf(14) : now) + step));
  setting('fontSize', FONT_SIZES[at]);
  applyLook();
}

function applyLook() {
  const size = FONT_SIZES.includes(Number(setting('fontSize'))) ? Number(setting('fontSize')) : 14;
  editor.setFontSize(size);
  $('#font-size').textContent = String(size);
  $('#font-smaller').disabled = size === FONT_SIZES[0];
  $('#font-larger').disabled = size === FONT_SIZES[FONT_SIZES.length - 1];
  const wrap = setting('wrap') === true;
  editor.setWrap(wrap);
  $('#toggle-wrap').setAttribute('aria-pressed', String(wrap));
  const dark = setting('theme') === 'dark';
  document.documentElement.dataset.theme = dark ? 'dark' : 'light';
  $('#toggle-theme').setAttribute('aria-pressed', String(dark));
}

// ---- views and keys -----------------------------------------------------------

// From a topic bar: the list shows that topic and its first exercise not yet passed opens.
function openTopic(topic) {
  showView('practice');
  $('#filter-topic').value = String(topic);
  $('#filter-status').value = 'all';
  $('#search').value = '';
  const inTopic = app.questions.filter((q) => q.topic === topic);
  const pick = inTopic.find((q) => !isPassed(q.id)) || inTopic[0];
  if (pick) openExercise(pick.id); else refreshList();
}

function showView(name) {
  app.view = name;
  for (const v of ['practice', 'progress', 'bank']) {
    show($('#view-' + v), v === name);
    const tab = $('#nav-' + v);
    if (v === name) tab.setAttribute('aria-current', 'page'); else tab.removeAttribute('aria-current');
  }
  if (name === 'progress') {
    const last = app.byId.get(setting('last')) || null;
    renderProgress(app.questions, new Date(), {
      last,
      onContinue: () => { showView('practice'); if (last) openExercise(last.id, { focus: true }); },
      onTopic: openTopic,
    });
  }
  if (name === 'bank') renderBankView(app.bank, { onImport: importBank, onExport: exportBank });
}

function onKey(e) {
  if ((e.ctrlKey || e.metaKey) && (e.key === 's' || e.key === 'S') && !e.defaultPrevented && app.view !== 'practice') { e.preventDefault(); saveNow(); return; }
  if (e.defaultPrevented || !(e.ctrlKey || e.metaKey) || app.view !== 'practice') return;
  if (e.key === 's' || e.key === 'S') { e.preventDefault(); saveNow(); return; }
  if (e.key === 'Enter') { e.preventDefault(); judge('tests'); }
  else if (e.key === "'") { e.preventDefault(); judge('sample'); }
}

function wire() {
  editor = createEditor($('#editor-host'), {
    onChange: onEdit, onRun: () => judge('sample'), onSubmit: () => judge('tests'), onSave: saveNow,
  });
  // The skip link moves focus by script: the address (which holds the session token) stays as it is.
  $('#skip-link').addEventListener('click', (e) => { e.preventDefault(); showView('practice'); editor.focus(); });
  $('#font-smaller').addEventListener('click', () => zoom(-1));
  $('#font-larger').addEventListener('click', () => zoom(1));
  $('#toggle-wrap').addEventListener('click', () => { setting('wrap', !setting('wrap')); applyLook(); });
  $('#toggle-theme').addEventListener('click', () => { setting('theme', setting('theme') === 'dark' ? 'light' : 'dark'); applyLook(); });
  setupFilters(refreshList);
  setupListKeys((id, how) => openExercise(id, how));
  $('#toggle-list').addEventListener('click', () => {
    if (app.view !== 'practice') { showView('practice'); showList(true); return; }
    showList(!document.body.classList.contains('list-open'));
  });
  document.addEventListener('keydown', (e) => {
    if (e.key === 'Escape' && document.body.classList.contains('list-open')) { showList(false); $('#toggle-list').focus(); }
  });
  // A press anywhere outside the open drawer closes it.
  document.addEventListener('pointerdown', (e) => {
    if (document.body.classList.contains('list-open') && !e.target.closest('#exercise-sidebar, #toggle-list')) showList(false);
  });
  for (const b of document.querySelectorAll('.tabs [data-view]')) b.addEventListener('click', () => showView(b.dataset.view));
  for (const b of document.querySelectorAll('.lang-switch [data-lang]')) b.addEventListener('click', () => switchLang(b.dataset.lang));
  $('#tab-statement').addEventListener('click', () => selectPane('statement'));
  $('#tab-result').addEventListener('click', () => selectPane('result'));
  $('#tab-history').addEventListener('click', () => selectPane('history'));
  $('#tab-try').addEventListener('click', () => selectPane('try'));
  setupTry({ onRun: runOwnInput });
  onTrySample(openTry);
  $('#run-samples').addEventListener('click', () => judge('sample'));
  $('#submit').addEventListener('click', () => judge('tests'));
  $('#reset-code').addEventListener('click', resetCode);
  $('#export-code').addEventListener('click', exportCode);
  $('#quit').addEventListener('click', quit);
  document.addEventListener('keydown', onKey);
  progress.onChange = onProgressEvent;
  // Last chance to write drafts when the page goes away.
  window.addEventListener('pagehide', saveOnLeave);
  // A hidden page is still alive: an ordinary save merges with what other pages wrote.
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'hidden') { if (progress.dirty) saveProgress(); }
    else pullProgress();
  });
  window.addEventListener('focus', () => pullProgress());
}

// ---- account and sync (cloud.js) ------------------------------------------------
// cloud.js fixes the profile before the progress loads and syncs it.

function cloudHook(name, ...args) {
  return cloud[name](...args);
}

// Another account's (or the guest's) results and runs leave the screen with it.
function forgetPanes() {
  app.verdicts.clear();
  for (const id of ['#result', '#try', '#history']) clear($(id));
  $('#result-badge').hidden = true;
  selectPane('statement');
}

function redrawProgress() {
  refreshList();
  if (app.current) { loadCode(); renderStatement(app.current); }
  if (app.view === 'progress') renderProgress(app.questions);
}

const cloudPage = {
  call, progress, loadProgress, saveProgress, changed, refresh: redrawProgress, forget: forgetPanes, toast, ask,
  title: (id) => (app.byId.get(id) || {}).title || id,
};

// A first start opens the first C exercise of the lowest topic (the bank's order within it).
function firstExercise() {
  const qs = app.questions;
  const low = Math.min(...qs.map((q) => (Number.isInteger(q.topic) && q.topic > 0 ? q.topic : Infinity)));
  const pick = qs.find((q) => q.topic === low && questionLang(q) === 'c') || qs.find((q) => questionLang(q) === 'c') || qs[0];
  return pick ? pick.id : null;
}

function startHere() {
  $('#statement').prepend(el('p', { class: 'start-here', id: 'start-here', text: '从这里开始：读完题目，在右边写代码，先点“运行样例”试一试。' }));
}

async function boot() {
  if (!readToken(location.hash) || !hasToken()) {
    fatal('页面地址不完整', '请重新启动 Tavrin，它会自动打开练习页面。不要手动输入或收藏这个页面的地址。');
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
  applyLook();
  const last = setting('last');
  const first = app.byId.has(last) ? last : firstExercise();
  if (first) openExercise(first); else renderStatement(null);
  if (first && !app.byId.has(last)) startHere();
  if (app.byId.has(last)) toast(`继续上次：${app.byId.get(last).title || last}`, 'info', 3500);
  if (inDesktop()) {
    listen({ requestClose: answerClose });
    post({ type: 'ready' });
  }
  document.body.classList.add('ready');
  cloudHook('ready');
}

boot();
