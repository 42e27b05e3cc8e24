// Submission history per exercise, and the merge of two pages' progress.

import { join, stamp, upgrade, isObject } from '../sync-merge.js';

// The trim is the merge's own, so that every computer and page trims alike.
export { trimHistory, validEntry, HISTORY_PER_EXERCISE, HISTORY_BUDGET, FILE_LIMIT } from '../sync-merge.js';

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

// Two pages of this computer (or this page and the file on disk) changed the progress since
// `base`, the state last read or written. The page's own edits get their clocks first (local
// is stamped in place), then the general merge joins both. The pages share this computer's
// counters, so what each added since the base adds up there.
export function mergeProgress(base, local, disk, device, now = Date.now()) {
  stamp(base, local, device, now);
  const out = join(local, disk);
  const b = upgrade(base).records;
  const l = upgrade(local).records;
  const d = upgrade(disk).records;
  for (const [id, r] of Object.entries(out.records)) {
    for (const [by, field] of [['attemptsBy', 'attempts'], ['sawBy', 'sawSolution']]) {
      const count = (x) => (x && isObject(x[by]) ? x[by][device] || 0 : 0);
      const was = count(b[id]);
      const own = was + Math.max(0, count(l[id]) - was) + Math.max(0, count(d[id]) - was);
      if (own === count(r)) continue;
      if (!isObject(r[by])) r[by] = {};
      r[by][device] = own;
      r[field] = Object.values(r[by]).reduce((s, n) => s + n, 0);
    }
  }
  out.device = device;
  return out;
}

// Failed submissions since the last pass, newest last.
export function failuresInARow(record) {
  const list = record && Array.isArray(record.history) ? record.history : [];
  let n = 0;
  for (let k = list.length - 1; k >= 0 && list[k].status !== 'accepted'; k--) n++;
  return n;
}
