// The account window and progress sync. A plain script loaded before app.js; the page hands
// it what it needs through TavrinCloud.start(page). Passwords and recovery codes live only in
// the form fields while they are used; the account's token never reaches the page.
(function () {
  'use strict';

  const DEBOUNCE_MS = 4000;
  const MAX_ROUNDS = 4; // pull-merge-push rounds when another computer pushes in between
  const NO_SERVICE_PROMPT = '还没有填写云端服务地址。';

  const cloud = {
    page: null,     // { call, progress, loadProgress, saveProgress, changed, refresh, toast, ask }
    status: null,   // the program's public status object
    sync: 'idle',   // idle | syncing | synced | offline | refused | error
    message: '',    // what the last sync said, as the program or service sent it
    lastSynced: 0,
    running: null,
    again: false,
    timer: 0,
  };

  const merge = () => globalThis.TavrinMerge;

  // ---- small DOM helpers (the page's own helpers are inside its bundle) --------------------

  function h(tag, attrs, ...children) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) {
      if (v === undefined || v === null || v === false) continue;
      if (k === 'text') e.textContent = v;
      else if (k.startsWith('on')) e.addEventListener(k.slice(2), v);
      else e.setAttribute(k, v === true ? '' : v);
    }
    for (const c of children) if (c) e.append(c);
    return e;
  }

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
`;

  function addStyles() {
    try {
      const sheet = new CSSStyleSheet();
      sheet.replaceSync(css);
      document.adoptedStyleSheets = [...document.adoptedStyleSheets, sheet];
    } catch { /* unstyled, still usable */ }
  }

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
    button = h('button', { type: 'button', id: 'cloud-account', class: 'btn btn-quiet cloud-account', onclick: openDialog },
      h('span', { class: 'cloud-dot', 'aria-hidden': 'true' }), h('span', { class: 'cloud-label' }));
    host.prepend(button);
    render();
  }

  // ---- the account window -------------------------------------------------------------------

  let dialog = null;
  let mode = 'login';      // login | register | recover
  let dialogError = '';
  let recoveryShown = '';  // shown once after register or recover, then forgotten
  let typedServer = null;  // a refused address stays in its field for correcting

  function openDialog() {
    if (!dialog) {
      dialog = h('dialog', { class: 'cloud-dialog', id: 'cloud-dialog', 'aria-labelledby': 'cloud-title' });
      dialog.addEventListener('close', () => { recoveryShown = ''; dialogError = ''; typedServer = null; });
      document.body.append(dialog);
    }
    dialogError = '';
    fillDialog();
    if (!dialog.open) dialog.showModal();
  }

  function errorLine() {
    return dialogError ? h('p', { class: 'cloud-error', role: 'alert', text: dialogError }) : null;
  }

  function busy(form, on) {
    for (const c of form.querySelectorAll('button,input')) c.disabled = on;
  }

  function fillDialog() {
    const s = cloud.status || { configured: false, loggedIn: false, server: '' };
    dialog.replaceChildren(h('h2', { id: 'cloud-title', text: '账号与云端同步' }));
    if (!s.loggedIn) dialog.append(h('p', { class: 'cloud-note', id: 'cloud-no-account', text: '练习不需要账号：不登录时，进度保存在这台电脑上。登录只是为了在几台电脑之间同步进度。' }));
    if (recoveryShown) dialog.append(recoverySection());
    dialog.append(addressSection(s));
    if (s.configured && !s.loggedIn) dialog.append(signInSection());
    if (s.loggedIn) dialog.append(accountSection(s));
    const earlier = earlierSection();
    if (earlier) dialog.append(earlier);
    dialog.append(h('div', { class: 'cloud-row' }, h('button', { type: 'button', class: 'btn', id: 'cloud-close', text: '关闭', onclick: () => dialog.close() })));
  }

  function recoverySection() {
    const code = recoveryShown;
    const copy = h('button', { type: 'button', class: 'btn', text: '复制恢复码', onclick: async () => {
      try { await navigator.clipboard.writeText(code); copy.textContent = '已复制'; } catch { copy.textContent = '请手动选中复制'; }
    } });
    return h('section', { class: 'cloud-recovery', 'aria-live': 'polite' },
      h('h3', { text: '恢复码（只显示这一次）' }),
      h('p', { class: 'cloud-code', id: 'cloud-recovery-code', text: code }),
      h('p', { class: 'cloud-warning', text: '请立即抄写或复制到安全的地方。忘记密码时，只有凭它才能找回账号；关闭这个窗口后不会再显示。' }),
      h('div', { class: 'cloud-row' }, copy, h('button', { type: 'button', class: 'btn btn-quiet', text: '我已保存好', onclick: () => { recoveryShown = ''; fillDialog(); } })));
  }

  function addressSection(s) {
    const box = h('section', { class: 'cloud-address' }, h('h3', { text: '服务地址' }));
    if (s.loggedIn) {
      box.append(h('p', { class: 'cloud-note', text: s.server }));
      return box;
    }
    // Checked here, in Chinese: the browser's own checks would speak the browser's language.
    const input = h('input', { id: 'cloud-server', type: 'text', inputmode: 'url', value: typedServer !== null ? typedServer : s.server || '', placeholder: 'https://', autocomplete: 'off', spellcheck: 'false' });
    const form = h('form', { novalidate: true, onsubmit: async (e) => {
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
    } }, h('label', { for: 'cloud-server', text: s.configured ? '学校或老师提供的同步服务地址' : NO_SERVICE_PROMPT + '请填写学校或老师提供的 HTTPS 地址' }),
    input, h('div', { class: 'cloud-row' }, h('button', { type: 'submit', class: 'btn', id: 'cloud-save-server', text: '保存地址' })));
    box.append(form);
    if (!s.configured || typedServer !== null) box.append(errorLine() || '');
    return box;
  }

  // What was typed before a failed attempt (never the password): the form is drawn anew.
  let typedName = '';
  function field(id, label, type, autocomplete) {
    return [h('label', { for: id, text: label }), h('input', { id, type, autocomplete, value: id === 'cloud-username' ? typedName : null })];
  }

  function signInSection() {
    const tabs = h('div', { class: 'cloud-tabs', role: 'group', 'aria-label': '登录方式' },
      ...[['login', '登录'], ['register', '注册新账号'], ['recover', '用恢复码找回']].map(([m, label]) =>
        h('button', { type: 'button', class: 'btn btn-quiet', 'aria-pressed': String(mode === m), 'data-mode': m, text: label,
          onclick: () => { mode = m; dialogError = ''; fillDialog(); } })));
    const fields = [...field('cloud-username', '用户名', 'text', 'username')];
    if (mode === 'recover') fields.push(...field('cloud-recovery', '恢复码', 'text', 'off'));
    fields.push(...field('cloud-password', mode === 'login' ? '密码' : '新密码（至少 8 个字符）', 'password', mode === 'login' ? 'current-password' : 'new-password'));
    const submitLabel = { login: '登录', register: '注册并登录', recover: '重设密码并登录' }[mode];
    const form = h('form', { novalidate: true, onsubmit: (e) => { e.preventDefault(); signIn(form); } },
      ...fields, errorLine(), h('div', { class: 'cloud-row' }, h('button', { type: 'submit', class: 'btn btn-primary', id: 'cloud-submit', text: submitLabel })));
    return h('section', { class: 'cloud-signin' }, h('h3', { text: '登录账号后，进度会在你的各台电脑之间同步' }), tabs, form);
  }

  function accountSection(s) {
    const line = h('p', { class: 'cloud-note', id: 'cloud-state', text: `已登录：${s.username}。${syncText().split(' · ')[1] || ''}` });
    const detail = cloud.message ? h('p', { class: cloud.sync === 'synced' ? 'cloud-note' : 'cloud-error', text: cloud.message }) : null;
    const out = h('button', { type: 'button', class: 'btn', id: 'cloud-logout', text: '退出登录', onclick: () => logout(out) });
    const now = h('button', { type: 'button', class: 'btn btn-primary', id: 'cloud-sync-now', text: '立即同步', onclick: () => syncNow() });
    return h('section', { class: 'cloud-signed-in' }, h('h3', { text: '账号' }), line, detail, errorLine(),
      h('div', { class: 'cloud-row' }, now, out),
      h('p', { class: 'cloud-note', text: '退出后回到本机的游客进度；账号的进度仍保存在这台电脑和云端。' }));
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
        items.push(h('li', {}, `${title}（${lang}，${when}，${String(e.code).split('\n').length} 行） `,
          h('button', { type: 'button', class: 'btn btn-small', text: '恢复为当前代码', onclick: () => {
            if (merge().restoreEarlier(r, index, Date.now())) {
              cloud.page.changed();
              cloud.page.refresh();
              cloud.page.toast(`已恢复「${title}」的较早代码；被替换的代码也保留在较早版本里。`);
              fillDialog();
            }
          } })));
      });
    }
    if (!items.length) return null;
    return h('section', { class: 'cloud-earlier' }, h('h3', { text: '较早的代码版本' }),
      h('p', { class: 'cloud-note', text: '两台电脑改了同一题的代码时，较新的一份成为当前代码，另一份保留在这里。' }), h('ul', {}, ...items));
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
    await switchProfile();
    fillDialog();
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

  // The program names another progress file now: load it and redraw.
  async function switchProfile() {
    const p = cloud.page.progress;
    p.profile = profileId();
    p.blocked = false;
    p.dirty = false;
    const loaded = await cloud.page.loadProgress();
    if (loaded.error) cloud.page.toast(loaded.error, 'error');
    cloud.page.refresh();
    render();
  }

  const hasRecords = (s) => !!s && typeof s === 'object' && Object.keys(merge().normalize(s).records).length > 0;

  // First sign-in of this account on this computer: offer to bring the guest's progress along.
  async function offerGuestProgress() {
    const base = await call('/api/cloud/base');
    if (base.revision !== 0 || hasRecords(base.state) || hasRecords(cloud.page.progress.data)) return;
    const guest = await call('/api/cloud/guest');
    if (typeof guest.error === 'string' || !hasRecords(guest)) return;
    const yes = await cloud.page.ask('带入本机进度？', '这台电脑上有未登录时的练习记录。要把它们合并到这个账号吗？游客进度本身不会被改动。',
      [{ label: '合并到账号', value: true, primary: true }, { label: '不用了', value: false }]);
    if (!yes) return;
    const p = cloud.page.progress;
    p.data = merge().mergeStates({}, p.data, guest);
    cloud.page.changed();
    await cloud.page.saveProgress();
    cloud.page.refresh();
  }

  // ---- sync ---------------------------------------------------------------------------------

  function clone(x) { return JSON.parse(JSON.stringify(x)); }

  async function post(path, body) {
    return call(path, JSON.stringify({ profile: profileId(), ...body }));
  }

  // Replaces the page's progress with merged, keeping whatever the learner changed since
  // snapshot was taken (a three-way merge with the snapshot as base).
  async function applyLocal(snapshot, merged) {
    const p = cloud.page.progress;
    const current = p.data;
    p.data = merge().same(current, snapshot) ? merged : merge().mergeStates(snapshot, current, merged);
    p.data.version = 1;
    cloud.page.changed();
    const saved = await cloud.page.saveProgress();
    cloud.page.refresh();
    return saved;
  }

  function countEarlier(state) {
    let n = 0;
    for (const r of Object.values(merge().normalize(state).records)) if (r && Array.isArray(r.earlier)) n += r.earlier.length;
    return n;
  }

  async function syncRound() {
    const pulled = await call('/api/cloud/pull');
    if (typeof pulled.error === 'string') return setSync('offline', pulled.error), 'done';
    const body = pulled.body || {};
    if (pulled.httpStatus !== 200) {
      return setSync('refused', typeof body.error === 'string' ? body.error : `云端拒绝了同步（HTTP ${pulled.httpStatus}）。`), 'done';
    }
    const remote = body.state && typeof body.state === 'object' ? body.state : {};
    const revision = Number.isInteger(body.revision) ? body.revision : 0;
    const base = await call('/api/cloud/base');
    const baseState = base.state && typeof base.state === 'object' ? base.state : {};

    const snapshot = clone(cloud.page.progress.data);
    const merged = merge().mergeStates(baseState, snapshot, remote);
    if (!merge().sameContent(merged, snapshot)) {
      // The local records are about to be replaced: a copy goes to disk first.
      const backup = await post('/api/cloud/backup', { state: snapshot });
      if (backup.ok !== true) return setSync('error', backup.error || '无法备份旧记录，已暂停合并。'), 'done';
      const before = countEarlier(snapshot);
      const saved = await applyLocal(snapshot, merged);
      if (saved.error) return setSync('error', saved.error), 'done';
      if (countEarlier(merged) > before) {
        cloud.page.toast('两台电脑改了同一题的代码：较新的一份是当前代码，另一份可以在账号窗口的“较早的代码版本”里恢复。', 'info', 8000);
      }
    }
    let newRevision = revision;
    if (!merge().sameContent(merged, remote)) {
      const pushed = await post('/api/cloud/push', { revision, state: merged });
      if (typeof pushed.error === 'string') return setSync('offline', pushed.error), 'done';
      if (pushed.httpStatus === 409) return 'again';
      const answer = pushed.body || {};
      if (pushed.httpStatus !== 200 || !Number.isInteger(answer.revision)) {
        return setSync('refused', typeof answer.error === 'string' ? answer.error : `云端拒绝了同步（HTTP ${pushed.httpStatus}）。`), 'done';
      }
      newRevision = answer.revision;
    }
    const stored = await post('/api/cloud/base', { revision: newRevision, state: merged });
    if (stored.ok !== true) return setSync('error', stored.error || '无法保存同步基线。'), 'done';
    setSync('synced', '');
    return 'done';
  }

  async function runSync() {
    if (!signedIn() || cloud.page.progress.blocked) return;
    setSync('syncing', cloud.message);
    const saved = await cloud.page.saveProgress();
    if (saved.error) { setSync('error', saved.error); return; }
    for (let round = 0; round < MAX_ROUNDS; round++) {
      if ((await syncRound()) === 'done') return;
    }
    setSync('error', '云端进度一直在被其他设备更新，稍后会再试。');
  }

  // One sync at a time; a request during a run starts one more afterwards.
  function syncNow() {
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

  function afterVerdict() {
    if (!signedIn()) return;
    clearTimeout(cloud.timer);
    cloud.timer = setTimeout(syncNow, DEBOUNCE_MS);
  }

  // ---- start ----------------------------------------------------------------------------------

  // Called by the page before it loads its progress: fixes the profile the page works for.
  async function start(page) {
    cloud.page = page;
    addStyles();
    await refreshStatus();
    page.progress.profile = profileId();
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
  function ready() {
    document.addEventListener('visibilitychange', followProfile);
    window.addEventListener('focus', followProfile);
    if (signedIn()) syncNow();
  }

  globalThis.TavrinCloud = { start, ready, afterVerdict, syncNow, get state() { return { ...cloud, page: undefined }; } };
})();
