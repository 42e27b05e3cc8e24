// Merging learning progress between computers and pages without losing a learner's write.
//
// The merge (join) is state-based: commutative, associative and idempotent, so syncs in any
// order, repeated or lost, end in the same state. Its rules:
// - fields a learner writes (drafts, settings, per-exercise fields such as the chosen language)
//   are registers ordered by a hybrid logical clock: wall time, a counter and the device's id.
//   A clock never goes below the largest one this state has seen, so a computer whose clock is
//   behind still orders its new edits after what it has merged;
// - absence never deletes: a removed draft or setting keeps its clock (a tombstone);
// - attempts and looks at the worked solution are counters per device, summed;
// - the best result is kept per test basis (the hash of the tests it was judged on); the basis
//   in use is a register, so a pass cleared by a bank change cannot come back from an older copy;
// - submission history, practice days, pass dates and seen tips are unions; history has one
//   deterministic trim (newest first by clock, then by key) that keeps each device's newest
//   submission per exercise;
// - a draft replaced by a concurrent edit (one whose writer had not seen it) stays as an
//   earlier version, which can be restored.
// Files and account records of the older format (plain counts and millisecond stamps) are
// upgraded once, using the last synced state to tell local counts from the account's.

export const VERSION = 2;
const RANK = { accepted: 3, failed: 2, compile_error: 1 };
const EARLIER_LIMIT = 20; // earlier draft versions kept per exercise
const DAYS_LIMIT = 400; // practice days kept per exercise
export const HISTORY_PER_EXERCISE = 20;
// History may take this much of the progress file; the program reads at most 4 MiB.
export const HISTORY_BUDGET = 1024 * 1024;
export const FILE_LIMIT = 4 * 1024 * 1024;
const FILE_ROOM = FILE_LIMIT - 256 * 1024; // drafts and settings first; history gives way
const LEGACY = 'legacy'; // counter key for counts that predate per-device counters

// Record fields with rules of their own; every other record field is a register.
const STRUCTURED = new Set(['drafts', 'draftsAt', 'draftsSeen', 'earlier', 'attempts', 'attemptsBy', 'best',
  'results', 'basis', 'basisAt', 'lastAt', 'lastStatus', 'lastHlc', 'history', 'days', 'tips', 'passDates',
  'sawSolution', 'sawBy', 'fieldsAt', 'clearedAt']);
// Top-level fields with rules of their own; others are registers too (stamped in fieldsAt).
const TOP = new Set(['version', 'device', 'clock', 'records', 'settings', 'settingsAt', 'updated', 'fieldsAt', 'exercises']);

export function isObject(x) {
  return x !== null && typeof x === 'object' && !Array.isArray(x);
}

function clone(x) {
  return x === undefined ? undefined : JSON.parse(JSON.stringify(x));
}

// Key order does not matter for equality.
export function canonical(x) {
  if (Array.isArray(x)) return '[' + x.map(canonical).join(',') + ']';
  if (isObject(x)) {
    return '{' + Object.keys(x).sort().map((k) => JSON.stringify(k) + ':' + canonical(x[k])).join(',') + '}';
  }
  return JSON.stringify(x === undefined ? null : x);
}

export function same(a, b) {
  return canonical(a) === canonical(b);
}

function num(x) {
  return typeof x === 'number' && Number.isFinite(x) && x >= 0 ? x : 0;
}

function cmp(a, b) {
  return a < b ? -1 : a > b ? 1 : 0;
}

// ---- hybrid logical clock ------------------------------------------------------------------
// "ttttttttttttttt.ccccc.device": fixed-width, so clocks compare as strings. "" is "never".

const HLC = /^(\d{15})\.(\d{5})\.([0-9a-z-]{0,40})$/;
const MAX_T = 1e15 - 1;

export function hlc(t, c = 0, device = '') {
  const tt = Math.min(MAX_T, Math.max(0, Math.floor(num(t))));
  return `${String(tt).padStart(15, '0')}.${String(Math.min(99999, c)).padStart(5, '0')}.${device}`;
}

// Any stored stamp to a clock: clocks as they are, older millisecond stamps as clocks of no device.
export function clockOf(x) {
  if (typeof x === 'string') return HLC.test(x) ? x : '';
  if (typeof x === 'number' && Number.isFinite(x) && x > 0) return hlc(x);
  return '';
}

export function clockTime(x) {
  const m = HLC.exec(clockOf(x));
  return m ? Number(m[1]) : 0;
}

function maxClock(...xs) {
  let best = '';
  for (const x of xs) { const c = clockOf(x); if (c > best) best = c; }
  return best;
}

// A new clock for a write on this device, after everything the state has seen.
export function tick(state, device, now = Date.now()) {
  const m = HLC.exec(clockOf(state.clock));
  const seenT = m ? Number(m[1]) : 0;
  const seenC = m ? Number(m[2]) : 0;
  const t = Math.max(Math.floor(num(now)), seenT);
  const c = t === seenT ? seenC + 1 : 0;
  const next = c > 99999 ? hlc(t + 1, 0, device) : hlc(t, c, device);
  state.clock = next;
  return next;
}

export function newDevice() {
  const bytes = new Uint8Array(6);
  globalThis.crypto.getRandomValues(bytes);
  return [...bytes].map((b) => b.toString(16).padStart(2, '0')).join('');
}

const DEVICE = /^[0-9a-z-]{1,40}$/;

// ---- the state's shape ---------------------------------------------------------------------

// A service answer or file may be merged only if it is a state object (records, settings and
// their clocks, when present, objects).
export function wellFormed(state) {
  if (!isObject(state)) return false;
  for (const key of ['records', 'exercises', 'settings', 'settingsAt']) {
    if (state[key] !== undefined && !isObject(state[key])) return false;
  }
  return true;
}

function counterMap(x) {
  const out = {};
  if (isObject(x)) for (const [k, v] of Object.entries(x)) if (DEVICE.test(k) && num(v) > 0) out[k] = Math.floor(num(v));
  return out;
}

function sum(map) {
  return Object.values(map).reduce((s, n) => s + n, 0);
}

function clockMap(x) {
  const out = {};
  if (isObject(x)) for (const [k, v] of Object.entries(x)) { const c = clockOf(v); if (c) out[k] = c; }
  return out;
}

// Per language, per device: the newest of that device's drafts that a later edit replaced
// knowingly. Versions at or below it were seen by a writer, so they are not conflict copies.
function seenMap(x) {
  const out = {};
  if (!isObject(x)) return out;
  for (const [lang, byDevice] of Object.entries(x)) {
    if (!isObject(byDevice)) continue;
    const m = clockMap(byDevice);
    if (Object.keys(m).length) out[lang] = m;
  }
  return out;
}

export function clockDevice(c) {
  const m = HLC.exec(clockOf(c));
  return m ? m[3] : '';
}

function stringList(x) {
  return Array.isArray(x) ? x.filter((s) => typeof s === 'string') : [];
}

export function validEntry(e) {
  return isObject(e) && typeof e.at === 'number' && Number.isFinite(e.at) && typeof e.code === 'string'
    && typeof e.status === 'string';
}

function historyKey(e) {
  return JSON.stringify([clockOf(e.h) || hlc(e.at), String(e.lang), e.status, e.code]);
}

// One record in the current form. legacyBase: the last synced record (older format), whose
// counts came from the account; what this computer counted beyond it is its own.
function upgradeRecord(raw, device, legacyBase) {
  const r = isObject(raw) ? clone(raw) : {};
  const fromOld = r.attemptsBy === undefined && r.results === undefined;
  r.drafts = isObject(r.drafts) ? Object.fromEntries(Object.entries(r.drafts).filter(([, v]) => typeof v === 'string')) : {};
  r.draftsAt = clockMap(r.draftsAt);
  r.draftsSeen = seenMap(r.draftsSeen);
  r.fieldsAt = clockMap(r.fieldsAt);
  if (fromOld) {
    const counted = (field) => (field === 'sawSolution' ? (x) => (x === true ? 1 : num(x)) : num);
    for (const [field, by] of [['attempts', 'attemptsBy'], ['sawSolution', 'sawBy']]) {
      const n = counted(field)(r[field]);
      const fromAccount = legacyBase ? Math.min(n, counted(field)(legacyBase[field])) : 0;
      const map = {};
      if (fromAccount > 0) map[LEGACY] = fromAccount;
      if (n - fromAccount > 0) map[device || LEGACY] = (map[device || LEGACY] || 0) + n - fromAccount;
      r[by] = map;
    }
    r.results = {};
    if (RANK[r.best]) r.results[typeof r.basis === 'string' ? r.basis : ''] = r.best;
    r.lastHlc = clockOf(r.lastAt);
    if (typeof r.basis === 'string') r.basisAt = '';
  }
  r.attemptsBy = counterMap(r.attemptsBy);
  r.sawBy = counterMap(r.sawBy);
  r.results = isObject(r.results) ? Object.fromEntries(Object.entries(r.results).filter(([, v]) => RANK[v])) : {};
  r.lastHlc = clockOf(r.lastHlc);
  r.basisAt = clockOf(r.basisAt);
  if (r.basis !== undefined && typeof r.basis !== 'string') delete r.basis;
  if (Array.isArray(r.earlier)) {
    r.earlier = r.earlier.filter((e) => isObject(e) && typeof e.code === 'string' && typeof e.lang === 'string')
      .map((e) => ({ lang: e.lang, code: e.code, at: clockTime(e.h || e.at), h: clockOf(e.h || e.at) }));
  }
  if (r.history !== undefined) {
    r.history = (Array.isArray(r.history) ? r.history : []).filter(validEntry).map((e) => {
      const out = clone(e);
      out.h = clockOf(e.h) || hlc(e.at);
      out.dev = typeof e.dev === 'string' && DEVICE.test(e.dev) ? e.dev : '';
      return out;
    });
  }
  for (const key of ['days', 'tips', 'passDates']) if (r[key] !== undefined) r[key] = stringList(r[key]);
  return derive(r);
}

// The plain fields the page reads, from the merge's own.
function derive(r) {
  r.attempts = sum(r.attemptsBy);
  const saw = sum(r.sawBy);
  if (saw > 0) r.sawSolution = saw; else delete r.sawSolution;
  if (!Object.keys(r.sawBy).length) delete r.sawBy;
  const best = r.results[r.basis === undefined ? '' : r.basis];
  r.best = best || '';
  if (!r.lastHlc) { delete r.lastHlc; delete r.lastAt; delete r.lastStatus; }
  if (!r.basisAt) delete r.basisAt;
  if (!Object.keys(r.draftsAt).length) delete r.draftsAt;
  if (!Object.keys(r.draftsSeen).length) delete r.draftsSeen;
  if (!Object.keys(r.fieldsAt).length) delete r.fieldsAt;
  if (Array.isArray(r.earlier) && !r.earlier.length) delete r.earlier;
  if (Array.isArray(r.history) && !r.history.length) delete r.history;
  if (!Array.isArray(r.passDates)) r.passDates = [];
  return r;
}

function fullRecord(r) {
  // A derived record with its empty maps back, for merging.
  const out = clone(r);
  for (const key of ['draftsAt', 'draftsSeen', 'fieldsAt', 'attemptsBy', 'sawBy', 'results']) if (!isObject(out[key])) out[key] = {};
  out.draftsSeen = seenMap(out.draftsSeen);
  if (!isObject(out.drafts)) out.drafts = {};
  out.lastHlc = clockOf(out.lastHlc);
  out.basisAt = clockOf(out.basisAt);
  return out;
}

// Any stored form to the current one. device: this computer's id for a local state, null for the
// account's; base: the last synced state, used only for older-format counts. Current-format
// states are only cleaned.
export function upgrade(state, { device = null, base = null } = {}) {
  const s = isObject(state) ? clone(state) : {};
  const old = s.version !== VERSION;
  const records = {};
  for (const key of ['exercises', 'records']) {
    if (!isObject(s[key])) continue;
    for (const [id, r] of Object.entries(s[key])) if (isObject(r)) records[id] = r;
  }
  delete s.exercises;
  const baseRecords = old && isObject(base) ? { ...(isObject(base.exercises) ? base.exercises : {}), ...(isObject(base.records) ? base.records : {}) } : {};
  s.records = {};
  for (const [id, r] of Object.entries(records)) s.records[id] = upgradeRecord(r, old ? device : null, old ? baseRecords[id] : null);
  s.settings = isObject(s.settings) ? s.settings : {};
  s.settingsAt = clockMap(s.settingsAt);
  s.fieldsAt = clockMap(s.fieldsAt);
  if (!Object.keys(s.fieldsAt).length) delete s.fieldsAt;
  if (device) s.device = device;
  else if (typeof s.device !== 'string' || !DEVICE.test(s.device)) delete s.device;
  s.version = VERSION;
  s.clock = maxClock(s.clock, ...allClocks(s));
  if (!s.clock) delete s.clock;
  return s;
}

function allClocks(s) {
  const out = [...Object.values(s.settingsAt)];
  for (const r of Object.values(s.records)) {
    out.push(...Object.values(r.draftsAt || {}), ...Object.values(r.fieldsAt || {}), r.lastHlc, r.basisAt);
    if (Array.isArray(r.history)) out.push(...r.history.map((e) => e.h));
  }
  return out;
}

// Kept for callers that only need the map under "records".
export function normalize(state) {
  const s = upgrade(state);
  return s;
}

// ---- the join --------------------------------------------------------------------------------

// Register of one value with its clock; ties (same clock, different value: only possible for
// older stamps of no device) go to the larger value in canonical order.
function pickRegister(av, ac, bv, bc) {
  if (ac !== bc) return ac > bc ? [av, ac, bv, bc] : [bv, bc, av, ac];
  return canonical(av) >= canonical(bv) ? [av, ac, bv, bc] : [bv, bc, av, ac];
}

function joinRegisters(aVals, aAt, bVals, bAt, onLose) {
  const vals = {};
  const at = {};
  for (const k of new Set([...Object.keys(aVals), ...Object.keys(bVals), ...Object.keys(aAt), ...Object.keys(bAt)])) {
    const aHas = k in aVals || k in aAt;
    const bHas = k in bVals || k in bAt;
    let win; let winAt;
    if (aHas && bHas) {
      const [wv, wc, lv, lc] = pickRegister(aVals[k], aAt[k] || '', bVals[k], bAt[k] || '');
      win = wv; winAt = wc;
      if (onLose && lv !== undefined && !same(lv, wv)) onLose(k, lv, lc);
    } else if (aHas) { win = aVals[k]; winAt = aAt[k] || ''; } else { win = bVals[k]; winAt = bAt[k] || ''; }
    if (win !== undefined) vals[k] = clone(win);
    if (winAt) at[k] = winAt;
  }
  return [vals, at];
}

function joinCounters(a, b) {
  const out = {};
  for (const k of new Set([...Object.keys(a), ...Object.keys(b)])) out[k] = Math.max(a[k] || 0, b[k] || 0);
  return out;
}

function unionSorted(a, b) {
  return [...new Set([...stringList(a), ...stringList(b)])].sort();
}

function earlierKey(e) {
  return e.lang + '\u0000' + e.code;
}

function joinRecord(ra, rb) {
  const a = fullRecord(ra);
  const b = fullRecord(rb);
  const out = {};
  // Registers the page does not know by name.
  const keys = new Set([...Object.keys(a), ...Object.keys(b)].filter((k) => !STRUCTURED.has(k)));
  const plainA = {}; const plainB = {};
  for (const k of keys) { if (k in a) plainA[k] = a[k]; if (k in b) plainB[k] = b[k]; }
  const [fields, fieldsAt] = joinRegisters(plainA, a.fieldsAt, plainB, b.fieldsAt);
  Object.assign(out, fields);
  out.fieldsAt = fieldsAt;

  // Drafts, and the versions that lost to a concurrent edit.
  const losers = [];
  [out.drafts, out.draftsAt] = joinRegisters(a.drafts, a.draftsAt, b.drafts, b.draftsAt,
    (lang, code, at) => { if (typeof code === 'string') losers.push({ lang, code, at: clockTime(at), h: at }); });
  out.draftsSeen = {};
  for (const lang of new Set([...Object.keys(a.draftsSeen), ...Object.keys(b.draftsSeen)])) {
    const x = a.draftsSeen[lang] || {};
    const y = b.draftsSeen[lang] || {};
    out.draftsSeen[lang] = {};
    for (const dev of new Set([...Object.keys(x), ...Object.keys(y)])) out.draftsSeen[lang][dev] = maxClock(x[dev], y[dev]);
  }
  const seenBy = (e) => ((out.draftsSeen[e.lang] || {})[clockDevice(e.h)] || '');
  const byKey = new Map();
  for (const e of [...(a.earlier || []), ...(b.earlier || []), ...losers]) {
    const k = earlierKey(e);
    const prev = byKey.get(k);
    if (!prev || e.h > prev.h) byKey.set(k, { lang: e.lang, code: e.code, at: e.at, h: e.h });
  }
  const earlier = [...byKey.values()].filter((e) => out.drafts[e.lang] !== e.code && e.h > seenBy(e));
  earlier.sort((x, y) => cmp(y.h, x.h) || cmp(earlierKey(y), earlierKey(x)));
  out.earlier = earlier.slice(0, EARLIER_LIMIT);

  out.attemptsBy = joinCounters(a.attemptsBy, b.attemptsBy);
  out.sawBy = joinCounters(a.sawBy, b.sawBy);
  out.results = {};
  for (const k of new Set([...Object.keys(a.results), ...Object.keys(b.results)])) {
    out.results[k] = (RANK[a.results[k]] || 0) >= (RANK[b.results[k]] || 0) ? a.results[k] : b.results[k];
  }
  const [basis, basisAt] = joinRegisters(a.basis === undefined ? {} : { v: a.basis }, a.basisAt ? { v: a.basisAt } : {},
    b.basis === undefined ? {} : { v: b.basis }, b.basisAt ? { v: b.basisAt } : {});
  if (basis.v !== undefined) out.basis = basis.v;
  out.basisAt = basisAt.v || '';

  const [last, lastAt] = joinRegisters(a.lastHlc ? { v: [a.lastAt, a.lastStatus] } : {}, a.lastHlc ? { v: a.lastHlc } : {},
    b.lastHlc ? { v: [b.lastAt, b.lastStatus] } : {}, b.lastHlc ? { v: b.lastHlc } : {});
  out.lastHlc = lastAt.v || '';
  if (last.v) {
    if (last.v[0] !== undefined && last.v[0] !== null) out.lastAt = last.v[0];
    if (last.v[1] !== undefined && last.v[1] !== null) out.lastStatus = last.v[1];
  }
  const cleared = Math.max(num(a.clearedAt), num(b.clearedAt));
  if (cleared > 0) out.clearedAt = cleared;

  if (a.history !== undefined || b.history !== undefined) {
    const seen = new Map();
    for (const e of [...(a.history || []), ...(b.history || [])]) if (!seen.has(historyKey(e))) seen.set(historyKey(e), clone(e));
    out.history = [...seen.values()];
  }
  for (const key of ['days', 'tips', 'passDates']) {
    if (a[key] !== undefined || b[key] !== undefined) out[key] = unionSorted(a[key], b[key]);
  }
  if (out.days) out.days = out.days.slice(-DAYS_LIMIT);
  return derive(out);
}

// The merged state of a and b (both in any stored form); neither is changed. The result keeps
// a's device id.
export function join(aRaw, bRaw) {
  const a = upgrade(aRaw);
  const b = upgrade(bRaw);
  const out = {};
  // Top-level registers the merge does not know by name.
  const plainA = {}; const plainB = {};
  for (const k of Object.keys(a)) if (!TOP.has(k)) plainA[k] = a[k];
  for (const k of Object.keys(b)) if (!TOP.has(k)) plainB[k] = b[k];
  const [fields, fieldsAt] = joinRegisters(plainA, a.fieldsAt || {}, plainB, b.fieldsAt || {});
  Object.assign(out, fields);
  if (Object.keys(fieldsAt).length) out.fieldsAt = fieldsAt;
  out.version = VERSION;
  if (a.device) out.device = a.device;
  const clock = maxClock(a.clock, b.clock);
  if (clock) out.clock = clock;
  const updated = Math.max(num(a.updated), num(b.updated));
  if (updated > 0) out.updated = updated;
  [out.settings, out.settingsAt] = joinRegisters(a.settings, a.settingsAt, b.settings, b.settingsAt);
  out.records = {};
  for (const id of [...new Set([...Object.keys(a.records), ...Object.keys(b.records)])].sort()) {
    out.records[id] = a.records[id] && b.records[id] ? joinRecord(a.records[id], b.records[id])
      : clone(a.records[id] || b.records[id]);
  }
  trimHistory(out);
  return out;
}

// ---- history trim ----------------------------------------------------------------------------

const encoder = new TextEncoder();
function bytes(x) {
  return encoder.encode(JSON.stringify(x)).length;
}

// One deterministic trim, the same on every computer: at most `perExercise` entries per
// exercise besides each device's newest there, at most `budget` bytes of history in all and
// the whole state under the file limit. Entries are ranked: each exercise's newest, then each
// device's newest per exercise, then the rest, newest first by clock and key; the longest
// prefix of that ranking that fits is kept. Returns how many entries were dropped.
export function trimHistory(state, { perExercise = HISTORY_PER_EXERCISE, budget = HISTORY_BUDGET, fileRoom = FILE_ROOM } = {}) {
  const records = isObject(state.records) ? state.records : {};
  let dropped = 0;
  const ranked = [];
  for (const [id, r] of Object.entries(records)) {
    if (!isObject(r) || r.history === undefined) continue;
    const all = Array.isArray(r.history) ? r.history : [];
    const list = all.filter(validEntry);
    dropped += all.length - list.length;
    list.sort((x, y) => cmp(historyKey(y), historyKey(x)));
    const devices = new Set();
    let others = 0;
    list.forEach((e, k) => {
      const dev = typeof e.dev === 'string' ? e.dev : '';
      const tier = k === 0 ? 0 : !devices.has(dev) ? 1 : 2;
      devices.add(dev);
      if (tier === 2 && ++others > perExercise - 1) { dropped++; return; }
      ranked.push({ id, e, tier, key: historyKey(e) });
    });
    r.history = [];
  }
  ranked.sort((x, y) => x.tier - y.tier || cmp(y.key, x.key) || cmp(y.id, x.id));
  const outside = bytes(state);
  const allowed = Math.max(0, Math.min(budget, fileRoom - outside));
  let total = 0;
  let k = 0;
  for (; k < ranked.length; k++) {
    const size = bytes(ranked[k].e) + 1;
    if (total + size > allowed) break;
    total += size;
    records[ranked[k].id].history.push(ranked[k].e);
  }
  dropped += ranked.length - k;
  for (const r of Object.values(records)) {
    if (!isObject(r) || !Array.isArray(r.history)) continue;
    r.history.sort((x, y) => cmp(historyKey(x), historyKey(y)));
    if (!r.history.length) delete r.history;
  }
  return dropped;
}

// ---- local writes ----------------------------------------------------------------------------

// Gives the page's plain edits since prev (the last state written or read) their clocks and
// counters: changed drafts, settings and fields get a new clock unless they already have a
// newer one, counts beyond the per-device counters go to this device, new submissions get a
// clock and the device, a changed result or basis is kept per basis. Changes state in place.
export function stamp(prevRaw, state, device, now = Date.now()) {
  const prev = prevRaw ? upgrade(prevRaw, { device }) : { records: {}, settings: {}, settingsAt: {} };
  if (state.version !== VERSION) {
    // An older-format state is upgraded first; its contents are not new edits.
    const up = upgrade(state, { device, base: isObject(prevRaw) && prevRaw.version !== VERSION ? prevRaw : null });
    for (const k of Object.keys(state)) delete state[k];
    Object.assign(state, up);
  }
  const clockNow = () => tick(state, device, now);
  if (!isObject(state.settings)) state.settings = {};
  state.settingsAt = clockMap(state.settingsAt);
  for (const k of new Set([...Object.keys(state.settings), ...Object.keys(prev.settings)])) {
    if (!same(state.settings[k], prev.settings[k]) && (state.settingsAt[k] || '') <= (prev.settingsAt[k] || '')) state.settingsAt[k] = clockNow();
  }
  const fieldsAt = clockMap(state.fieldsAt);
  for (const k of new Set([...Object.keys(state), ...Object.keys(prev)])) {
    if (TOP.has(k)) continue;
    if (!same(state[k], prev[k]) && (fieldsAt[k] || '') <= ((prev.fieldsAt || {})[k] || '')) fieldsAt[k] = clockNow();
  }
  if (Object.keys(fieldsAt).length) state.fieldsAt = fieldsAt;
  if (!isObject(state.records)) state.records = {};
  for (const [id, raw] of Object.entries(state.records)) {
    if (!isObject(raw)) { delete state.records[id]; continue; }
    const p = fullRecord(prev.records[id] || { attemptsBy: {}, results: {} });
    const r = raw;
    const full = fullRecord(r);
    for (const key of ['draftsAt', 'fieldsAt', 'attemptsBy', 'sawBy', 'results']) r[key] = full[key];
    r.draftsSeen = seenMap(r.draftsSeen);
    if (!isObject(r.drafts)) r.drafts = {};
    r.draftsAt = clockMap(r.draftsAt);
    for (const lang of new Set([...Object.keys(r.drafts), ...Object.keys(p.drafts)])) {
      if (r.drafts[lang] === p.drafts[lang]) continue;
      // A plain edit replaced what this device held, so its writer has seen that version. A
      // write that sets its own clock (restoring a version) keeps the replaced one as earlier.
      const was = p.draftsAt[lang];
      if (was && (r.draftsAt[lang] || '') === was) {
        const seen = r.draftsSeen[lang] || (r.draftsSeen[lang] = {});
        seen[clockDevice(was)] = maxClock(seen[clockDevice(was)], was);
      }
      if ((r.draftsAt[lang] || '') <= (p.draftsAt[lang] || '')) r.draftsAt[lang] = clockNow();
    }
    for (const k of Object.keys(r)) {
      if (STRUCTURED.has(k)) continue;
      if (!same(r[k], p[k]) && (r.fieldsAt[k] || '') <= (p.fieldsAt[k] || '')) r.fieldsAt[k] = clockNow();
    }
    for (const k of Object.keys(p)) {
      if (!STRUCTURED.has(k) && !(k in r) && (r.fieldsAt[k] || '') <= (p.fieldsAt[k] || '')) r.fieldsAt[k] = clockNow();
    }
    for (const [field, by] of [['attempts', 'attemptsBy'], ['sawSolution', 'sawBy']]) {
      const n = field === 'sawSolution' && r[field] === true ? 1 : num(r[field]);
      const extra = n - sum(r[by]);
      if (extra > 0) r[by][device] = (r[by][device] || 0) + extra;
    }
    if (r.basis !== undefined && typeof r.basis !== 'string') delete r.basis;
    if (r.basis !== p.basis && (r.basisAt || '') <= (p.basisAt || '')) r.basisAt = clockNow();
    const key = r.basis === undefined ? '' : r.basis;
    if (RANK[r.best] && (RANK[r.best] > (RANK[r.results[key]] || 0))) r.results[key] = r.best;
    if ((r.lastAt !== p.lastAt || r.lastStatus !== p.lastStatus) && (r.lastHlc || '') <= (p.lastHlc || '')) r.lastHlc = clockNow();
    if (Array.isArray(r.history)) {
      r.history = r.history.filter(validEntry);
      for (const e of r.history) if (!clockOf(e.h)) { e.h = clockNow(); e.dev = device; }
    }
    derive(r);
  }
  state.version = VERSION;
  state.device = device;
  return state;
}

// ---- what the sync asks --------------------------------------------------------------------

// Same progress, whatever the save times and this computer's id.
export function sameContent(a, b) {
  const strip = (x) => {
    const n = upgrade(x);
    delete n.updated;
    delete n.device;
    return n;
  };
  return same(strip(a), strip(b));
}

// The state as the account keeps it: without this computer's id.
export function forAccount(state) {
  const s = clone(state);
  delete s.device;
  return s;
}

// True when merged replaces something the learner wrote here since the last sync (base):
// a draft, setting or field whose local value differs from both the base and the merged one.
export function replacesLocalWrite(base, local, merged) {
  const b = upgrade(base);
  const l = upgrade(local);
  const m = upgrade(merged);
  const differs = (lv, bv, mv) => !same(lv, bv) && !same(lv, mv);
  for (const k of Object.keys(l.settings)) if (differs(l.settings[k], b.settings[k], m.settings[k])) return true;
  for (const [id, r] of Object.entries(l.records)) {
    const br = b.records[id] || {};
    const mr = m.records[id] || {};
    for (const lang of Object.keys(r.drafts)) {
      if (differs(r.drafts[lang], (br.drafts || {})[lang], (mr.drafts || {})[lang])) return true;
    }
    for (const k of Object.keys(r)) if (!STRUCTURED.has(k) && differs(r[k], br[k], mr[k])) return true;
  }
  return false;
}

// Three-way merge for compatibility: the base serves only to upgrade older-format counts.
export function mergeStates(base, local, remote) {
  const device = isObject(local) && typeof local.device === 'string' && DEVICE.test(local.device) ? local.device : 'here';
  const l = upgrade(local, { device, base: isObject(base) && base.version !== VERSION ? base : null });
  return join(l, upgrade(remote));
}

export function countEarlier(state) {
  let n = 0;
  for (const r of Object.values(upgrade(state).records)) if (Array.isArray(r.earlier)) n += r.earlier.length;
  return n;
}

// Puts an earlier version back as the current draft, as a new write on this device; the draft it
// replaces becomes an earlier version itself. clock: a clock from tick(). True when it changed.
export function restoreEarlier(record, index, clock) {
  if (!isObject(record) || !Array.isArray(record.earlier)) return false;
  const e = record.earlier[index];
  if (!e || typeof e.code !== 'string') return false;
  const at = clockOf(clock);
  if (!isObject(record.drafts)) record.drafts = {};
  record.draftsAt = clockMap(record.draftsAt);
  const current = record.drafts[e.lang];
  record.earlier.splice(index, 1);
  if (typeof current === 'string' && current !== e.code) {
    const h = record.draftsAt[e.lang] || '';
    record.earlier.unshift({ lang: e.lang, code: current, at: clockTime(h), h });
    record.earlier = record.earlier.slice(0, EARLIER_LIMIT);
  }
  record.drafts[e.lang] = e.code;
  record.draftsAt[e.lang] = at;
  if (!record.earlier.length) delete record.earlier;
  return true;
}

// A saved version (a backup) put back: whatever it holds that the state lacks comes back, and
// its drafts and settings become the current ones as new writes on this device; a draft they
// replace is kept as an earlier version. Returns the new state and how many values changed.
export function restoreVersion(state, saved, device, now = Date.now()) {
  const out = join(state, upgrade(saved, { device }));
  out.device = device;
  const b = upgrade(saved);
  let changed = 0;
  for (const [name, value] of Object.entries(b.settings)) {
    if (same(out.settings[name], value)) continue;
    out.settings[name] = clone(value);
    out.settingsAt[name] = tick(out, device, now);
    changed++;
  }
  for (const [id, r] of Object.entries(b.records)) {
    for (const [lang, code] of Object.entries(r.drafts)) {
      const target = out.records[id];
      if (target.drafts[lang] === code) continue;
      if (!Array.isArray(target.earlier)) target.earlier = [];
      target.earlier.unshift({ lang, code, at: 0, h: '' });
      restoreEarlier(target, 0, tick(out, device, now));
      changed++;
    }
  }
  return { state: out, changed };
}

// Counters of the guest's progress under a key of their own, so that guest work merged into an
// account adds to what this computer counted there instead of being taken for the same work.
export function asGuestWork(state, device) {
  const s = upgrade(state, { device });
  const key = `${device}-guest`;
  for (const r of Object.values(s.records)) {
    for (const by of ['attemptsBy', 'sawBy']) {
      if (!isObject(r[by]) || !(device in r[by])) continue;
      r[by][key] = r[by][device];
      delete r[by][device];
    }
  }
  delete s.device;
  return s;
}
