// The account window and progress sync. start(page) is called before the page loads its
// progress and fixes the profile it works for; ready() once it has drawn. Passwords and recovery
// codes live only in the form fields while they are used; the account's token never reaches the
// page. The service's answers are not trusted: one that would take the progress backwards, or
// that is not a progress state, is never merged; the learner is told and decides.
import { el } from './lib/dom.js';
import { stampEdits } from './lib/progress.js';
import { mergeProgress } from './lib/history.js';
import {
  join, upgrade, same, sameContent, wellFormed, forAccount, replacesLocalWrite, countEarlier,
  restoreEarlier, restoreVersion, asGuestWork, tick,
} from './sync-merge.js';

const DEBOUNCE_MS = 4000;
const MAX_ROUNDS = 4; // pull-merge-push rounds when another computer pushes in between
// The program gives up on a service request after at most 26 s (resolve, connect, send and
// receive limits): the label says so by then even if the request has not come back.
const REQUEST_LIMIT_MS = 27000;
const NO_SERVICE_PROMPT = '还没有填写云端服务地址。';
const BACKWARDS = '云端记录比本机旧，可能被恢复过备份，本机的进度没有改动。';
const MALFORMED = '云端返回的记录无法识别，本机的进度没有改动。';
const RESTORE_REASON = {
  missing: '本机保存的登录信息不见了',
  unreadable: '本机保存的登录信息无法读取（可能已损坏，或程序文件夹被移动过）',
  address: '服务地址和登录时不同',
};

const cloud = {
  page: null,     // { call, progress, loadProgress, saveProgress, changed, refresh, forget, toast, ask, title }
  status: null,   // the program's public status object
  local: { device: '', restore: '', lastUser: '' }, // what only this computer knows
  sync: 'idle',   // idle | syncing | synced | offline | refused | distrust | error
  message: '',    // what the last sync said, in words for the learner
  lastSynced: 0,
  running: null,
  again: false,
  timer: 0,
  distrust: null, // { revision } of an answer that was not merged; the learner may repair
  backups: [],    // this account's backups on this computer, newest first
};

const css = `
.cloud-account{display:inline-flex;align-items:center;gap:6px;max-width:22em}
.cloud-account .cloud-dot{width:8px;height:8px;border-radius:50%;background:#9aa3ad;flex:none}
.cloud-account[data-sync=synced] .cloud-dot{background:#2e9d5b}
.cloud-account[data-sync=syncing] .cloud-dot{background:#d19a1d}
.cloud-account[data-sync=offline] .cloud-dot,.cloud-account[data-sync=refused] .cloud-dot,.cloud-account[data-sync=error] .cloud-dot{background:#c8433a}
.cloud-account .cloud-label{overflow:hidden;text-overflow:ellipsis;white-space:nowrap}
.cloud-dialog{max-width:34em;width:calc(100vw - 40px);border:1px solid #c9d0d8;border-radius:10px;padding:20px 22px}
.cloud-dialog h2{margin:0 0 10px;font-size:1.15em}
.cloud-dialog section{margin:14px 0}
.cloud-dialog h3{margin:0 0 6px;font-size:1em}
.cloud-dialog label{display:block;margin:6px 0 2px}
.cloud-dialog input{width:100%;box-sizing:border-box;padding:6px 8px}
.cloud-dialog .cloud-row{display:flex;gap:8px;flex-wrap:wrap;margin-top:10px;align-items:center}
.cloud-dialog .cloud-error{color:#b3261e;white-space:pre-wrap;margin:8px 0}
.cloud-dialog .cloud-note{color:#4a5560;margin:6px 0}
.cloud-dialog .cloud-code{font-family:monospace;font-size:1.2em;padding:8px;border:1px dashed #b3261e;user-select:all;word-break:break-all}
.cloud-dialog .cloud-warning{color:#b3261e;font-weight:600}
.cloud-dialog .cloud-tabs{display:flex;gap:6px}
.cloud-dialog .cloud-tabs button[aria-pressed=true]{font-weight:700;text-decoration:underline}
.cloud-dialog ul{padding-left:1.2em;margin:4px 0}
.cloud-dialog li{margin:4px 0}
.cloud-account[data-sync=distrust] .cloud-dot{background:#c8433a}
.cloud-banner{display:flex;gap:10px;align-items:center;flex-wrap:wrap;padding:8px 16px;background:#fff4e5;color:#5c3b00;border-bottom:1px solid #e8c48a}
.cloud-banner p{margin:0;flex:1 1 20em}
`;


function addStyles() {
  try {
    const sheet = new CSSStyleSheet();
    sheet.replaceSync(css);
    document.adoptedStyleSheets = [...document.adoptedStyleSheets, sheet];
  } catch { /* unstyled, still usable */ }
}

// ---- program calls ---------------------------------------------------------------------

// ---- program calls ---------------------------------------------------------------------

async function call(path, body) {
  const init = body === undefined ? {} : { method: 'POST', body };
  const { data } = await cloud.page.call(path, init);
  return data || {};
}

async function refreshStatus() {
  const data = await call('/api/cloud/status');
  if (typeof data.profile === 'string') cloud.status = data;
  return cloud.status;
}

const signedIn = () => !!(cloud.status && cloud.status.loggedIn);
const profileId = () => (cloud.status ? cloud.status.profile : 'guest');
const device = () => cloud.page.progress.device;

// ---- account button and state line -------------------------------------------------------

let button = null;

function syncText() {
  if (!cloud.status || !cloud.status.configured) return '游客 · 未连接云端';
  if (!signedIn()) return '游客（未登录）';
  const name = cloud.status.username;
  switch (cloud.sync) {
    case 'syncing': return `${name} · 同步中…`;
    case 'synced': return `${name} · 已同步`;
    case 'offline': return `${name} · 离线，进度保存在本机`;
    case 'refused': return `${name} · 云端拒绝同步`;
    case 'distrust': return `${name} · 云端记录异常，未合并`;
    case 'error': return `${name} · 同步暂停`;
    default: return `${name} · 尚未同步`;
  }
}

function render() {
  if (!button) return;
  button.dataset.sync = signedIn() ? cloud.sync : 'idle';
  button.querySelector('.cloud-label').textContent = syncText();
  button.title = cloud.message || (cloud.lastSynced ? `上次同步：${new Date(cloud.lastSynced).toLocaleString('zh-CN')}` : '账号与云端同步');
  if (dialog && dialog.open) fillDialog();
}

function setSync(kind, message = '') {
  cloud.sync = kind;
  cloud.message = message;
  if (kind === 'synced') cloud.lastSynced = Date.now();
  render();
}

function mountButton() {
  const host = document.querySelector('.topbar-right') || document.body;
  button = el('button', { type: 'button', id: 'cloud-account', class: 'btn btn-quiet cloud-account', onclick: openDialog },
    el('span', { class: 'cloud-dot', 'aria-hidden': 'true' }), el('span', { class: 'cloud-label' }));
  host.prepend(button);
  render();
}

// A stored sign-in that could not be restored at start: said once, with the way back.
function showRestoreBanner() {
  const reason = RESTORE_REASON[cloud.local.restore];
  if (!reason || signedIn() || document.getElementById('cloud-restore-banner')) return;
  const who = cloud.local.lastUser ? `账号「${cloud.local.lastUser}」` : '上次的账号';
  const banner = el('div', { class: 'cloud-banner', id: 'cloud-restore-banner', role: 'status' },
    el('p', { text: `${who}没能自动登录：${reason}。现在是游客，练习照常保存在这台电脑上。点“重新登录”登录后，可以把这段时间的练习合并到账号。` }),
    el('button', { type: 'button', class: 'btn btn-primary', text: '重新登录', onclick: openDialog }),
    el('button', { type: 'button', class: 'btn btn-quiet', text: '知道了', onclick: () => banner.remove() }));
  const top = document.querySelector('.topbar');
  if (top) top.after(banner); else document.body.prepend(banner);
}

function hideRestoreBanner() {
  const banner = document.getElementById('cloud-restore-banner');
  if (banner) banner.remove();
}

// ---- the account window -------------------------------------------------------------------

let dialog = null;
let mode = 'login';      // login | register | recover
let dialogError = '';
let recoveryShown = '';  // shown once after register or recover, then forgotten
let typedServer = null;  // a refused address stays in its field for correcting

function openDialog() {
  if (!dialog) {
    dialog = el('dialog', { class: 'cloud-dialog', id: 'cloud-dialog', 'aria-labelledby': 'cloud-title' });
    dialog.addEventListener('close', () => { recoveryShown = ''; dialogError = ''; typedServer = null; });
    document.body.append(dialog);
  }
  dialogError = '';
  fillDialog();
  if (!dialog.open) dialog.showModal();
  loadBackups().then(() => { if (dialog.open) fillDialog(); });
}

function errorLine() {
  return dialogError ? el('p', { class: 'cloud-error', role: 'alert', text: dialogError }) : null;
}

function busy(form, on) {
  for (const c of form.querySelectorAll('button,input')) c.disabled = on;
}

function fillDialog() {
  const s = cloud.status || { configured: false, loggedIn: false, server: '' };
  dialog.replaceChildren(el('h2', { id: 'cloud-title', text: '账号与云端同步' }));
  if (!s.loggedIn) dialog.append(el('p', { class: 'cloud-note', id: 'cloud-no-account', text: '练习不需要账号：不登录时，进度保存在这台电脑上。登录只是为了在几台电脑之间同步进度。' }));
  if (recoveryShown) dialog.append(recoverySection());
  dialog.append(addressSection(s));
  if (s.configured && !s.loggedIn) dialog.append(signInSection());
  if (s.loggedIn) dialog.append(accountSection(s));
  const earlier = earlierSection();
  if (earlier) dialog.append(earlier);
  const backups = backupSection();
  if (backups) dialog.append(backups);
  dialog.append(el('div', { class: 'cloud-row' }, el('button', { type: 'button', class: 'btn', id: 'cloud-close', text: '关闭', onclick: () => dialog.close() })));
}

function recoverySection() {
  const code = recoveryShown;
  const copy = el('button', { type: 'button', class: 'btn', text: '复制恢复码', onclick: async () => {
    try { await navigator.clipboard.writeText(code); copy.textContent = '已复制'; } catch { copy.textContent = '请手动选中复制'; }
  } });
  return el('section', { class: 'cloud-recovery', 'aria-live': 'polite' },
    el('h3', { text: '恢复码（只显示这一次）' }),
    el('p', { class: 'cloud-code', id: 'cloud-recovery-code', text: code }),
    el('p', { class: 'cloud-warning', text: '请立即抄写或复制到安全的地方。忘记密码时，只有凭它才能找回账号；关闭这个窗口后不会再显示。' }),
    el('div', { class: 'cloud-row' }, copy, el('button', { type: 'button', class: 'btn btn-quiet', text: '我已保存好', onclick: () => { recoveryShown = ''; fillDialog(); } })));
}

function addressSection(s) {
  const box = el('section', { class: 'cloud-address' }, el('h3', { text: '服务地址' }));
  if (s.loggedIn) {
    box.append(el('p', { class: 'cloud-note', text: s.server }));
    return box;
  }
  // Checked here, in Chinese: the browser's own checks would speak the browser's language.
  const input = el('input', { id: 'cloud-server', type: 'text', inputmode: 'url', value: typedServer !== null ? typedServer : s.server || '', placeholder: 'https://', autocomplete: 'off', spellcheck: 'false' });
  const form = el('form', { novalidate: true, onsubmit: async (e) => {
    e.preventDefault();
    const typed = input.value.trim();
    const wrong = !typed ? '请填写服务地址。' : !/^https?:\/\/[^\s/?#]+/i.test(typed) ? '服务地址要以 https:// 开头，例如 https://sync.example.edu.cn。' : '';
    if (wrong) { typedServer = input.value; dialogError = wrong; fillDialog(); return; }
    busy(form, true);
    const data = await call('/api/cloud/config', JSON.stringify({ server: input.value.trim() }));
    busy(form, false);
    if (typeof data.error === 'string') { typedServer = input.value; dialogError = data.error; fillDialog(); return; }
    typedServer = null;
    cloud.status = data;
    dialogError = '';
    render();
    fillDialog();
  } }, el('label', { for: 'cloud-server', text: s.configured ? '学校或老师提供的同步服务地址' : NO_SERVICE_PROMPT + '请填写学校或老师提供的 HTTPS 地址' }),
  input, el('div', { class: 'cloud-row' }, el('button', { type: 'submit', class: 'btn', id: 'cloud-save-server', text: '保存地址' })));
  box.append(form);
  if (!s.configured || typedServer !== null) box.append(errorLine() || '');
  return box;
}

// What was typed before a failed attempt (never the password): the form is drawn anew.
let typedName = '';
function field(id, label, type, autocomplete) {
  return [el('label', { for: id, text: label }), el('input', { id, type, autocomplete, value: id === 'cloud-username' ? typedName : null })];
}

function signInSection() {
  const tabs = el('div', { class: 'cloud-tabs', role: 'group', 'aria-label': '登录方式' },
    ...[['login', '登录'], ['register', '注册新账号'], ['recover', '用恢复码找回']].map(([m, label]) =>
      el('button', { type: 'button', class: 'btn btn-quiet', 'aria-pressed': String(mode === m), 'data-mode': m, text: label,
        onclick: () => { mode = m; dialogError = ''; fillDialog(); } })));
  const fields = [...field('cloud-username', '用户名', 'text', 'username')];
  if (mode === 'recover') fields.push(...field('cloud-recovery', '恢复码', 'text', 'off'));
  fields.push(...field('cloud-password', mode === 'login' ? '密码' : '新密码（至少 8 个字符）', 'password', mode === 'login' ? 'current-password' : 'new-password'));
  const submitLabel = { login: '登录', register: '注册并登录', recover: '重设密码并登录' }[mode];
  const form = el('form', { novalidate: true, onsubmit: (e) => { e.preventDefault(); signIn(form); } },
    ...fields, errorLine(), el('div', { class: 'cloud-row' }, el('button', { type: 'submit', class: 'btn btn-primary', id: 'cloud-submit', text: submitLabel })));
  return el('section', { class: 'cloud-signin' }, el('h3', { text: '登录账号后，进度会在你的各台电脑之间同步' }), tabs, form);
}

function accountSection(s) {
  const line = el('p', { class: 'cloud-note', id: 'cloud-state', text: `已登录：${s.username}。${syncText().split(' · ')[1] || ''}` });
  const detail = cloud.message
    ? el('p', { class: cloud.sync === 'synced' ? 'cloud-note' : 'cloud-error', id: 'cloud-sync-detail', text: cloud.message })
    : null;
  const out = el('button', { type: 'button', class: 'btn', id: 'cloud-logout', text: '退出登录', onclick: () => logout(out) });
  const now = el('button', { type: 'button', class: 'btn btn-primary', id: 'cloud-sync-now', text: '立即同步', onclick: () => syncNow() });
  const repairing = cloud.distrust ? el('div', { class: 'cloud-row' },
    el('button', { type: 'button', class: 'btn btn-primary', id: 'cloud-repair', text: '用本机进度修复云端', onclick: () => repair() }),
    el('span', { class: 'cloud-note', text: '把这台电脑上的进度（含云端记录里本机没有的部分）写回账号。' })) : null;
  const unremembered = s.remembered === false
    ? el('p', { class: 'cloud-warning', id: 'cloud-not-remembered', text: '这次登录没能保存在本机，下次启动程序时需要重新登录。' }) : null;
  return el('section', { class: 'cloud-signed-in' }, el('h3', { text: '账号' }), line, detail, repairing, unremembered, errorLine(),
    el('div', { class: 'cloud-row' }, now, out),
    el('p', { class: 'cloud-note', text: '退出后回到本机的游客进度；账号的进度仍保存在这台电脑和云端。' }));
}

// Earlier draft versions that a merge kept, with a way back.
function earlierSection() {
  const records = cloud.page && cloud.page.progress.data.records;
  if (!records) return null;
  const items = [];
  for (const [id, r] of Object.entries(records)) {
    if (!r || !Array.isArray(r.earlier)) continue;
    r.earlier.forEach((e, index) => {
      const when = e.at ? new Date(e.at).toLocaleString('zh-CN') : '时间未知';
      const lang = e.lang === 'cpp' ? 'C++' : 'C';
      const title = cloud.page.title ? cloud.page.title(id) : id;
      items.push(el('li', {}, `${title}（${lang}，${when}，${String(e.code).split('\n').length} 行） `,
        el('button', { type: 'button', class: 'btn btn-small', text: '恢复为当前代码', onclick: () => {
          stampEdits();
          if (restoreEarlier(r, index, tick(cloud.page.progress.data, device()))) {
            cloud.page.changed();
            cloud.page.refresh();
            cloud.page.toast(`已恢复「${title}」的较早代码；被替换的代码也保留在较早版本里。`);
            fillDialog();
          }
        } })));
    });
  }
  if (!items.length) return null;
  return el('section', { class: 'cloud-earlier' }, el('h3', { text: '较早的代码版本' }),
    el('p', { class: 'cloud-note', text: '两台电脑改了同一题的代码时，较新的一份成为当前代码，另一份保留在这里。' }), el('ul', {}, ...items));
}

// Copies of this account's progress kept on this computer before a merge replaced something.
function backupSection() {
  if (!signedIn() || !cloud.backups.length) return null;
  const items = cloud.backups.map((b) => el('li', { 'data-name': b.name },
    `${b.time ? new Date(b.time).toLocaleString('zh-CN') : '时间未知'}（${Math.max(1, Math.round(b.size / 1024))} KB） `,
    el('button', { type: 'button', class: 'btn btn-small', text: '恢复这个版本', onclick: () => restoreBackup(b.name) })));
  return el('section', { class: 'cloud-backups', id: 'cloud-backups' }, el('h3', { text: '本机备份' }),
    el('p', { class: 'cloud-note', text: '同步替换本机改过的内容之前，会先在这台电脑上留一份备份（最多保留最近 10 份）。恢复后，备份里的代码和设置成为当前的，现在的代码留在“较早的代码版本”里。' }),
    el('ul', {}, ...items));
}

async function loadBackups() {
  if (!signedIn()) { cloud.backups = []; return; }
  const data = await call('/api/cloud/backups');
  cloud.backups = Array.isArray(data.backups)
    ? data.backups.filter((b) => b && typeof b.name === 'string' && Number.isFinite(b.size) && Number.isFinite(b.time)) : [];
}

async function restoreBackup(name) {
  const yes = await cloud.page.ask('恢复这个版本？', '备份里的代码和设置会成为当前的；现在的代码不会丢，会留在“较早的代码版本”里。提交记录和次数不会减少。',
    [{ label: '恢复', value: true, primary: true }, { label: '取消', value: false }]);
  if (!yes) return;
  const data = await post('/api/cloud/backup-open', { name });
  if (typeof data.error === 'string' || !wellFormed(data.state)) {
    cloud.page.toast(typeof data.error === 'string' ? data.error : '这个备份无法读取。', 'error');
    return;
  }
  stampEdits();
  const p = cloud.page.progress;
  const { state } = restoreVersion(p.data, data.state, device());
  p.data = state;
  cloud.page.changed();
  await cloud.page.saveProgress();
  cloud.page.refresh();
  cloud.page.toast('已恢复备份的版本。', 'ok');
  fillDialog();
  syncNow();
}

// ---- signing in and out -------------------------------------------------------------------

async function signIn(form) {
  const value = (id) => form.querySelector('#' + id);
  const body = { username: value('cloud-username').value, password: value('cloud-password').value };
  if (mode === 'recover') body.recovery = value('cloud-recovery').value.trim();
  typedName = body.username;
  const missing = !body.username.trim() ? '请填写用户名。' : !body.password ? '请填写密码。' : mode === 'recover' && !body.recovery ? '请填写恢复码。' : '';
  if (missing) { dialogError = missing; fillDialog(); return; }
  busy(form, true);
  await cloud.page.saveProgress(); // the guest's last edits land in the guest file first
  const data = await call('/api/cloud/' + mode, JSON.stringify(body));
  body.password = '';
  busy(form, false);
  if (data.ok !== true) {
    dialogError = typeof data.error === 'string' ? data.error : '登录失败。';
    fillDialog();
    return;
  }
  value('cloud-password').value = '';
  typedName = '';
  dialogError = '';
  recoveryShown = typeof data.recovery === 'string' ? data.recovery : '';
  cloud.status = data.status;
  hideRestoreBanner();
  cloud.local.restore = '';
  await switchProfile();
  fillDialog();
  if (cloud.status && cloud.status.remembered === false) {
    cloud.page.toast('这次登录没能保存在本机，下次启动程序时需要重新登录。', 'error', 8000);
  }
  await offerGuestProgress();
  syncNow();
}

async function logout(btn) {
  btn.disabled = true;
  clearTimeout(cloud.timer);
  if (cloud.running) await cloud.running;
  const saved = await cloud.page.saveProgress();
  if (saved.error && !(await cloud.page.ask('进度没有保存', `${saved.error}\n仍然退出登录吗？这台电脑上最近的修改会丢失。`,
    [{ label: '取消', value: false, primary: true }, { label: '仍然退出', value: true }]))) { btn.disabled = false; return; }
  const data = await call('/api/cloud/logout', '{}');
  btn.disabled = false;
  if (data.ok !== true) { dialogError = data.error || '退出登录失败。'; fillDialog(); return; }
  await refreshStatus();
  dialogError = '';
  setSync('idle');
  await switchProfile();
  fillDialog();
}

// The last synced state of the signed-in account: { revision, state }.
async function readBase() {
  const base = await call('/api/cloud/base');
  return {
    revision: Number.isInteger(base.revision) && base.revision >= 0 ? base.revision : 0,
    state: wellFormed(base.state) ? base.state : {},
  };
}

// The program names another progress file now: load it, and clear everything the previous
// account (or the guest) left on screen.
async function switchProfile() {
  const p = cloud.page.progress;
  p.profile = profileId();
  p.blocked = false;
  p.dirty = false;
  cloud.distrust = null;
  cloud.backups = [];
  p.upgradeBase = signedIn() ? (await readBase()).state : null;
  const loaded = await cloud.page.loadProgress();
  if (loaded.error) cloud.page.toast(loaded.error, 'error');
  if (cloud.page.forget) cloud.page.forget();
  cloud.page.refresh();
  await loadBackups();
  render();
}

// After a sign-in: work done here as a guest that this account does not hold yet is offered
// for merging, whether or not the account was used on this computer before.
async function offerGuestProgress() {
  const guest = await call('/api/cloud/guest');
  if (typeof guest.error === 'string' || !wellFormed(guest)) return;
  const work = asGuestWork(guest, device());
  if (!Object.keys(work.records).length) return;
  const p = cloud.page.progress;
  stampEdits();
  // Exercises are the work; the guest's settings alone (the last exercise opened) are not.
  if (same(upgrade(join(p.data, work)).records, upgrade(p.data).records)) return;
  const yes = await cloud.page.ask('带入本机进度？', '这台电脑上有未登录时的练习记录，账号里还没有。要把它们合并到这个账号吗？游客进度本身不会被改动。',
    [{ label: '合并到账号', value: true, primary: true }, { label: '不用了', value: false }]);
  if (!yes) return;
  stampEdits();
  p.data = join(p.data, work);
  p.data.device = device();
  cloud.page.changed();
  await cloud.page.saveProgress();
  cloud.page.refresh();
}

// ---- sync ---------------------------------------------------------------------------------

function clone(x) { return JSON.parse(JSON.stringify(x)); }

async function post(path, body) {
  return call(path, JSON.stringify({ profile: profileId(), ...body }));
}

// The service refused: its reason in words, never its status code.
function refusal(status) {
  if (status === 401 || status === 403) return '登录已失效，请退出后重新登录。进度保存在本机。';
  if (status === 409) return '云端进度一直在被其他设备更新，稍后会再试。';
  if (status === 413) return '进度太大，云端不接受这次同步。进度保存在本机。';
  if (status === 429) return '同步太频繁，云端请稍后再试。进度保存在本机。';
  if (status >= 500) return '云端服务暂时出了问题，稍后会再试。进度保存在本机。';
  return '云端拒绝了这次同步，进度保存在本机。';
}

// Replaces the page's progress with merged, keeping whatever the learner changed since
// snapshot was taken.
async function applyLocal(snapshot, merged) {
  const p = cloud.page.progress;
  const current = p.data;
  p.data = same(current, snapshot) ? merged : mergeProgress(snapshot, current, merged, device());
  p.data.device = device();
  cloud.page.changed();
  const saved = await cloud.page.saveProgress();
  cloud.page.refresh();
  return saved;
}

// An answer that is not merged: the learner is told, and may repair the account.
function distrust(message, revision) {
  const first = !cloud.distrust;
  cloud.distrust = { revision };
  setSync('distrust', message);
  if (first) cloud.page.toast(`${message}要用本机进度修复云端，请打开账号窗口。`, 'error', 10000);
  return 'done';
}

// Pulls the account's state and judges it: { revision, state } or { done } after saying why.
async function pull() {
  const pulled = await call('/api/cloud/pull');
  if (typeof pulled.error === 'string') return { done: setSync('offline', pulled.error) };
  const body = pulled.body && typeof pulled.body === 'object' ? pulled.body : {};
  if (pulled.httpStatus !== 200) return { done: setSync('refused', refusal(pulled.httpStatus)) };
  const revision = Number.isInteger(body.revision) && body.revision >= 0 ? body.revision : null;
  return { revision, state: body.state, wellFormed: revision !== null && wellFormed(body.state) };
}

async function push(revision, state) {
  const pushed = await post('/api/cloud/push', { revision, state: forAccount(state) });
  if (typeof pushed.error === 'string') return { done: setSync('offline', pushed.error) };
  if (pushed.httpStatus === 409) return { again: true };
  const answer = pushed.body && typeof pushed.body === 'object' ? pushed.body : {};
  if (pushed.httpStatus !== 200) return { done: setSync('refused', refusal(pushed.httpStatus)) };
  if (!Number.isInteger(answer.revision) || answer.revision <= revision) return { done: distrust(MALFORMED, revision) };
  return { revision: answer.revision };
}

async function syncRound() {
  const remote = await pull();
  if ('done' in remote) return 'done';
  const base = await readBase();
  if (!remote.wellFormed) return distrust(MALFORMED, remote.revision);
  if (remote.revision < base.revision) return distrust(BACKWARDS, remote.revision);
  cloud.distrust = null;

  stampEdits();
  const snapshot = clone(cloud.page.progress.data);
  const merged = join(snapshot, remote.state);
  merged.device = device();
  if (!sameContent(merged, snapshot)) {
    // Something the learner wrote here is about to be replaced: a copy goes to disk first.
    if (replacesLocalWrite(base.state, snapshot, merged)) {
      const backup = await post('/api/cloud/backup', { state: snapshot });
      if (backup.ok !== true) return setSync('error', backup.error || '无法备份旧记录，已暂停合并。'), 'done';
      await loadBackups();
    }
    const before = countEarlier(snapshot);
    const saved = await applyLocal(snapshot, merged);
    if (saved.error) return setSync('error', saved.error), 'done';
    if (countEarlier(merged) > before) {
      cloud.page.toast('两台电脑改了同一题的代码：较新的一份是当前代码，另一份可以在账号窗口的“较早的代码版本”里恢复。', 'info', 8000);
    }
  }
  let revision = remote.revision;
  if (!sameContent(merged, remote.state)) {
    const pushed = await push(revision, merged);
    if (pushed.again) return 'again';
    if ('done' in pushed) return 'done';
    revision = pushed.revision;
  }
  const stored = await post('/api/cloud/base', { revision, state: forAccount(merged) });
  if (stored.ok !== true) return setSync('error', stored.error || '无法保存同步基线。'), 'done';
  setSync('synced', '');
  return 'done';
}

// The learner chose to write this computer's progress back to the account after an answer
// that was not merged. What a well-formed account state holds is kept too.
async function repair() {
  if (cloud.running) await cloud.running;
  setSync('syncing', cloud.message);
  await cloud.page.saveProgress();
  const remote = await pull();
  if ('done' in remote) return;
  const base = await readBase();
  stampEdits();
  const local = cloud.page.progress.data;
  const merged = remote.wellFormed ? join(local, remote.state) : clone(local);
  merged.device = device();
  if (!sameContent(merged, local)) await applyLocal(clone(local), merged);
  const revision = remote.revision !== null ? remote.revision : base.revision;
  const pushed = await push(revision, merged);
  if (pushed.again) return setSync('error', '云端进度一直在被其他设备更新，稍后再试修复。');
  if ('done' in pushed) return;
  const stored = await post('/api/cloud/base', { revision: pushed.revision, state: forAccount(merged) });
  if (stored.ok !== true) return setSync('error', stored.error || '无法保存同步基线。');
  cloud.distrust = null;
  setSync('synced', '');
  cloud.page.toast('已用本机进度修复云端记录。', 'ok');
}

async function runSync() {
  if (!signedIn() || cloud.page.progress.blocked) return;
  setSync('syncing', cloud.message);
  // "同步中…" stands no longer than the program waits for the service.
  const watchdog = setTimeout(() => {
    if (cloud.sync === 'syncing') setSync('offline', '云端没有及时回答，进度保存在本机，稍后会再试。');
  }, REQUEST_LIMIT_MS);
  try {
    const saved = await cloud.page.saveProgress();
    if (saved.error) { setSync('error', saved.error); return; }
    for (let round = 0; round < MAX_ROUNDS; round++) {
      if ((await syncRound()) === 'done') return;
    }
    setSync('error', '云端进度一直在被其他设备更新，稍后会再试。');
  } finally {
    clearTimeout(watchdog);
  }
}

// One sync at a time; a request during a run starts one more afterwards.
export function syncNow() {
  clearTimeout(cloud.timer);
  if (cloud.running) { cloud.again = true; return cloud.running; }
  cloud.running = (async () => {
    try {
      do { cloud.again = false; await runSync(); } while (cloud.again && signedIn());
    } catch (e) {
      setSync('error', '同步出错：' + (e && e.message ? e.message : String(e)));
    } finally {
      cloud.running = null;
    }
  })();
  return cloud.running;
}

export function afterVerdict() {
  if (!signedIn()) return;
  clearTimeout(cloud.timer);
  cloud.timer = setTimeout(syncNow, DEBOUNCE_MS);
}

// ---- start ----------------------------------------------------------------------------------

// Called by the page before it loads its progress: fixes the profile the page works for.
export async function start(page) {
  cloud.page = page;
  addStyles();
  await refreshStatus();
  const local = await call('/api/cloud/local');
  if (typeof local.device === 'string' && /^[0-9a-f]{12}$/.test(local.device)) page.progress.device = local.device;
  cloud.local.restore = typeof local.restore === 'string' ? local.restore : '';
  cloud.local.lastUser = typeof local.lastUser === 'string' ? local.lastUser : '';
  page.progress.profile = profileId();
  if (signedIn()) page.progress.upgradeBase = (await readBase()).state;
  mountButton();
}

// Another window of the program may have signed in or out meanwhile: when this page comes
// back to the front it follows the program's profile (unsaved edits are held by the
// program's 409 instead, and the page says so).
async function followProfile() {
  if (document.visibilityState !== 'visible' || cloud.running) return;
  const before = profileId();
  await refreshStatus();
  const p = cloud.page.progress;
  if (profileId() !== p.profile && !p.dirty) {
    setSync('idle');
    await switchProfile();
    if (signedIn()) syncNow();
  } else if (profileId() !== before) {
    render();
  }
}

// Called once the page has drawn: a restored sign-in syncs right away.
export async function ready() {
  document.addEventListener('visibilitychange', followProfile);
  window.addEventListener('focus', followProfile);
  showRestoreBanner();
  await loadBackups();
  if (signedIn()) syncNow();
}

export function state() {
  return { ...cloud, page: undefined };
}
