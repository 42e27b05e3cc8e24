// Submission history per exercise, and the merge of two pages' progress.
// Pure functions over progress objects ({ records: { id: record }, ... }).

export const HISTORY_PER_EXERCISE = 20;
// History may take this much of the progress file; the program reads at most 4 MiB.
export const HISTORY_BUDGET = 1024 * 1024;
export const FILE_LIMIT = 4 * 1024 * 1024;
const FILE_ROOM = FILE_LIMIT - 256 * 1024; // drafts and settings first; history gives way

const encoder = new TextEncoder();
function bytes(x) {
  return encoder.encode(JSON.stringify(x)).length;
}

function isObject(x) {
  return x !== null && typeof x === 'object' && !Array.isArray(x);
}

export function validEntry(e) {
  return isObject(e) && typeof e.at === 'number' && Number.isFinite(e.at) && typeof e.code === 'string'
    && typeof e.status === 'string';
}

// The first case that failed, so that a row can say which and how: { fail: { status, index } }.
function firstFailed(verdict) {
  const cases = Array.isArray(verdict.cases) ? verdict.cases : [];
  const c = cases.find((x) => x && x.status !== 'passed' && x.status !== 'skipped');
  return c && typeof c.status === 'string' && Number.isInteger(c.index) ? { fail: { status: c.status, index: c.index } } : {};
}

// One entry for a judged submission.
export function historyEntry(verdict, lang, code, now = Date.now()) {
  return {
    at: now, lang: lang === 'cpp' ? 'cpp' : 'c', status: String(verdict.status),
    passed: Number(verdict.passed) || 0, total: Number(verdict.total) || 0, code: String(code),
    ...firstFailed(verdict),
  };
}

// Keeps the newest entries: at most `perExercise` per exercise, at most `budget`
// bytes of history over all exercises, and the whole state under the file
// limit. The newest entry of an exercise goes last. Returns how many were dropped.
export function trimHistory(state, { perExercise = HISTORY_PER_EXERCISE, budget = HISTORY_BUDGET, fileRoom = FILE_ROOM } = {}) {
  const records = isObject(state.records) ? state.records : {};
  let dropped = 0;
  const lists = [];
  for (const r of Object.values(records)) {
    if (!isObject(r) || r.history === undefined) continue;
    const list = (Array.isArray(r.history) ? r.history : []).filter(validEntry).sort((a, b) => a.at - b.at);
    dropped += (Array.isArray(r.history) ? r.history.length : 0) - list.length;
    if (list.length > perExercise) { dropped += list.length - perExercise; list.splice(0, list.length - perExercise); }
    r.history = list;
    lists.push(list);
  }
  if (!lists.some((l) => l.length)) return dropped;
  let total = lists.reduce((s, l) => s + l.reduce((t, e) => t + bytes(e), 0), 0);
  const outside = bytes(state) - total;
  const allowed = Math.max(0, Math.min(budget, fileRoom - outside));
  while (total > allowed) {
    // The oldest entry among exercises with more than one; then the oldest of all.
    let pick = null;
    for (const l of lists) if (l.length > 1 && (!pick || l[0].at < pick[0].at)) pick = l;
    if (!pick) for (const l of lists) if (l.length && (!pick || l[0].at < pick[0].at)) pick = l;
    if (!pick) break;
    total -= bytes(pick.shift());
    dropped++;
  }
  for (const r of Object.values(records)) if (isObject(r) && Array.isArray(r.history) && !r.history.length) delete r.history;
  return dropped;
}

function union(a, b, key) {
  const seen = new Map();
  for (const x of [...(Array.isArray(a) ? a : []), ...(Array.isArray(b) ? b : [])]) {
    const k = key(x);
    if (k !== null && !seen.has(k)) seen.set(k, x);
  }
  return [...seen.values()];
}

const entryKey = (e) => (validEntry(e) ? JSON.stringify([e.at, String(e.lang), e.status, e.code]) : null);

// Two pages (or this page and the file on disk) changed the progress since
// `base`: the general three-way merge decides drafts, attempts and results;
// the lists that only ever grow (history, practice days, seen tips) are the
// union of both sides, so nothing either page recorded goes missing.
export function mergeProgress(merge, base, local, disk) {
  const out = merge.mergeStates(base, local, disk);
  const b = merge.normalize(base).records;
  const l = merge.normalize(local).records;
  const d = merge.normalize(disk).records;
  // An exercise only one side touched is that side's, exactly: the general merge
  // keeps the better result of both, which would bring back a pass mark that this
  // page cleared on purpose (a changed bank).
  for (const id of new Set([...Object.keys(l), ...Object.keys(d)])) {
    const only = merge.same(b[id], d[id]) ? l[id] : merge.same(b[id], l[id]) ? d[id] : undefined;
    if (only !== undefined) out.records[id] = JSON.parse(JSON.stringify(only));
    else if (merge.same(b[id], d[id]) || merge.same(b[id], l[id])) delete out.records[id];
  }
  for (const [id, r] of Object.entries(out.records)) {
    const a = l[id] || {};
    const b = d[id] || {};
    if (a.history !== undefined || b.history !== undefined) {
      r.history = union(a.history, b.history, entryKey).sort((x, y) => x.at - y.at);
    }
    if (a.days !== undefined || b.days !== undefined) {
      r.days = union(a.days, b.days, (x) => (typeof x === 'string' ? x : null)).sort();
    }
    if (a.tips !== undefined || b.tips !== undefined) {
      // One fixed order, as the account sync writes it: computers that agree write the same.
      r.tips = union(a.tips, b.tips, (x) => (typeof x === 'string' ? x : null)).sort();
    }
  }
  out.version = 1;
  trimHistory(out);
  return out;
}

// Failed submissions since the last pass, newest last.
export function failuresInARow(record) {
  const list = record && Array.isArray(record.history) ? record.history : [];
  let n = 0;
  for (let k = list.length - 1; k >= 0 && list[k].status !== 'accepted'; k--) n++;
  return n;
}
