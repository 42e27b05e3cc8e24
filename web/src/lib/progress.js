// Learning progress: drafts, best result, attempts and pass dates per exercise,
// kept in the program's progress file through /api/state.

import { call } from './api.js';
import { formatDate } from './dom.js';
import { judgingBasis } from './bank.js';
import { historyEntry, mergeProgress, trimHistory } from './history.js';
import { upgrade, stamp, newDevice, same } from '../sync-merge.js';

// The profile the page loaded; "guest" while no account is signed in.
export const progress = {
  profile: 'guest',
  data: { version: 2, records: {}, settings: {} },
  device: '', // this program folder's id in the per-device counters and clocks
  upgradeBase: null, // the last synced state, when an older-format file needs upgrading
  dirty: false,
  blocked: false, // a 409: the account changed under us; nothing more is written
  stopped: false, // the program no longer answers: nothing typed now is saved
  saving: null,
  timer: 0,
  lastError: '',
  base: null, // the progress as last read from or written to the file: what both pages started from
  onChange: () => {},
};

function clone(x) {
  return JSON.parse(JSON.stringify(x));
}

// Other pages of this program in the same browser hear about every save at once.
const channel = typeof BroadcastChannel === 'function' ? new BroadcastChannel('tavrin-progress') : null;
if (channel) channel.onmessage = (e) => { if (e.data && e.data.type === 'saved' && e.data.profile === progress.profile) pullProgress(); };

// Reads, merges and writes one page at a time within a browser; pages in
// another browser (the desktop window) meet in the merge itself.
function exclusive(fn) {
  const locks = typeof navigator !== 'undefined' && navigator.locks;
  return locks && typeof locks.request === 'function' ? locks.request('tavrin-progress', fn) : fn();
}

// Takes in what another page saved: { changed } or { error }.
function absorb(disk) {
  if (!progress.base) return { changed: false };
  const merged = mergeProgress(progress.base, progress.data, normalize(clone(disk)), deviceId());
  progress.base = normalize(clone(disk));
  if (same(merged, progress.data)) return { changed: false };
  progress.data = normalize(merged);
  progress.onChange('merged');
  return { changed: true };
}

export async function pullProgress() {
  if (progress.blocked) return;
  await exclusive(async () => {
    const { data } = await call('/api/state', { extra: { 'X-Mesk-Profile': progress.profile } });
    if (typeof data.error !== 'string') absorb(data);
  });
}

const SAVE_DELAY_MS = 1200;
const RETRY_MS = 8000;
const RANK = { accepted: 3, failed: 2, compile_error: 1 };

function deviceId() {
  if (!progress.device) progress.device = newDevice();
  return progress.device;
}

// Any stored form to the current one (older files are upgraded once, on their next save).
export function normalize(raw) {
  // Without the program's id (an older program), the file's own id keeps counting in one place.
  if (!progress.device && raw && typeof raw.device === 'string' && /^[0-9a-z-]{1,40}$/.test(raw.device)) progress.device = raw.device;
  return upgrade(raw, { device: deviceId(), base: progress.upgradeBase });
}

// The page's plain edits since the last read or write get their clocks and counters.
export function stampEdits(now = Date.now()) {
  stamp(progress.base, progress.data, deviceId(), now);
}

// { ok } or { error }.
export async function loadProgress() {
  const { data } = await call('/api/state', { extra: { 'X-Mesk-Profile': progress.profile } });
  if (typeof data.error === 'string') return { error: data.error };
  progress.data = normalize(data);
  progress.base = clone(progress.data);
  return { ok: true };
}

export function record(id, create = false) {
  let r = progress.data.records[id];
  if (!r && create) {
    r = { drafts: {}, attempts: 0, best: '', passDates: [], attemptsBy: {}, results: {} };
    progress.data.records[id] = r;
  }
  return r || null;
}

export function setting(name, value) {
  if (value === undefined) return progress.data.settings[name];
  if (progress.data.settings[name] === value) return value;
  progress.data.settings[name] = value;
  changed();
  return value;
}

export function saveDraft(id, lang, code) {
  const r = record(id, true);
  if (r.drafts[lang] === code) return;
  r.drafts[lang] = code;
  changed();
}

export function dropDraft(id, lang) {
  const r = record(id);
  if (r && r.drafts && lang in r.drafts) { delete r.drafts[lang]; changed(); }
}

// Days with any run or submission, for the progress cards; kept to the last
// 400 days so the file does not grow without end.
const DAYS_KEPT = 400;
export function noteDay(id, now = new Date()) {
  const r = record(id, true);
  const day = formatDate(now);
  if (!Array.isArray(r.days)) r.days = [];
  if (r.days[r.days.length - 1] === day || r.days.includes(day)) return;
  r.days.push(day);
  if (r.days.length > DAYS_KEPT) r.days.splice(0, r.days.length - DAYS_KEPT);
  changed();
}

// Standing tips already shown for an exercise (titles).
export function seenTips(id) {
  const r = record(id);
  return new Set(r && Array.isArray(r.tips) ? r.tips.filter((t) => typeof t === 'string') : []);
}

export function noteTips(id, titles) {
  const r = record(id, true);
  const known = seenTips(id);
  const fresh = titles.filter((t) => !known.has(t));
  if (!fresh.length) return;
  r.tips = [...known, ...fresh];
  changed();
}

// Counts a submission against the tests and keeps it in the history; sample
// runs are not attempts. run: { lang, code } of the submission.
export function noteVerdict(question, verdict, now = new Date(), run = null) {
  noteDay(question.id, now);
  const r = record(question.id, true);
  if (run) {
    if (!Array.isArray(r.history)) r.history = [];
    r.history.push(historyEntry(verdict, run.lang, run.code, now.getTime()));
    trimHistory(progress.data);
  }
  r.attempts = (r.attempts || 0) + 1;
  r.lastAt = now.getTime();
  r.lastStatus = verdict.status;
  const basis = judgingBasis(question);
  if (r.basis !== basis) r.best = '';
  if ((RANK[verdict.status] || 0) > (RANK[r.best] || 0)) r.best = verdict.status;
  if (verdict.status === 'accepted') {
    const day = formatDate(now);
    if (!Array.isArray(r.passDates)) r.passDates = [];
    if (!r.passDates.includes(day)) r.passDates.push(day);
  }
  // The result counts for the tests it was judged on.
  r.basis = judgingBasis(question);
  changed();
}

export function isPassed(id) {
  const r = record(id);
  return !!r && r.best === 'accepted';
}

// After the bank changed: ids whose judging basis is known unchanged keep
// their pass mark; a pass earned on other tests or another comparison is cleared.
export function restamp(questions, carriedIds) {
  const carried = new Set(carriedIds);
  let cleared = 0;
  for (const q of questions) {
    const r = record(q.id);
    if (!r || r.best !== 'accepted') continue;
    const basis = judgingBasis(q);
    if (carried.has(q.id) || r.basis === basis || (!r.basis && carried.size === 0)) {
      if (r.basis !== basis) { r.basis = basis; changed(); }
      continue;
    }
    // The pass stays recorded for the old tests; the tests in use now are another basis.
    r.basis = basis;
    r.best = r.attempts > 0 ? 'failed' : '';
    r.clearedAt = Date.now();
    cleared++;
    changed();
  }
  return cleared;
}

async function write(keepalive) {
  stampEdits();
  trimHistory(progress.data);
  progress.data.updated = Date.now();
  const body = JSON.stringify(progress.data);
  const answer = await call('/api/state', {
    method: 'POST', body, keepalive: keepalive && body.length < 60000,
    extra: { 'X-Mesk-Profile': progress.profile },
  });
  if (answer.status === 200 && answer.data && answer.data.ok === true) progress.base = JSON.parse(body);
  return answer;
}

// The page is going away: whatever is not on disk yet goes out now, in a
// request that outlives the page (no time to read and merge first).
export function saveOnLeave() {
  if (progress.blocked || !(progress.dirty || progress.saving)) return;
  progress.dirty = false;
  clearTimeout(progress.timer);
  write(true);
}

export function changed() {
  progress.dirty = true;
  progress.onChange(progress.stopped ? 'stopped' : 'dirty');
  clearTimeout(progress.timer);
  if (!progress.blocked) progress.timer = setTimeout(saveProgress, SAVE_DELAY_MS);
}

// Resolves with { ok } or { error, conflict }.
export async function saveProgress({ keepalive = false } = {}) {
  clearTimeout(progress.timer);
  if (progress.blocked) return { error: progress.lastError, conflict: true };
  if (progress.saving) await progress.saving;
  if (!progress.dirty) return { ok: true };
  progress.dirty = false;
  const job = keepalive ? write(true) : exclusive(async () => {
    // What another page saved since we last looked is merged in first.
    if (progress.base) {
      const disk = await call('/api/state', { extra: { 'X-Mesk-Profile': progress.profile } });
      if (disk.status === 0) return disk;
      if (typeof disk.data.error !== 'string') absorb(disk.data);
    }
    return write(false);
  });
  progress.saving = job;
  const { status, data } = await job;
  progress.saving = null;
  if (status === 409) {
    progress.blocked = true;
    progress.lastError = typeof data.error === 'string' ? data.error : '账号已经切换，旧请求未写入。请重新打开页面。';
    progress.onChange('conflict');
    return { error: progress.lastError, conflict: true };
  }
  if (typeof data.error === 'string' || data.ok !== true) {
    progress.dirty = true;
    progress.lastError = typeof data.error === 'string' ? data.error : '进度保存失败。';
    // No answer at all: the program is gone, not just busy.
    if (status === 0) progress.stopped = true;
    progress.onChange(progress.stopped ? 'stopped' : 'error');
    progress.timer = setTimeout(saveProgress, RETRY_MS);
    return { error: progress.lastError };
  }
  progress.lastError = '';
  progress.stopped = false;
  if (channel) channel.postMessage({ type: 'saved', profile: progress.profile });
  progress.onChange(progress.dirty ? 'dirty' : 'saved');
  return { ok: true };
}
