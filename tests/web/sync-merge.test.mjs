// The progress merge on a table of cases: base, local, remote -> what must hold afterwards.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mergeStates, restoreEarlier, normalize, sameContent, hlc } from '../../web/src/sync-merge.js';

const sub = (at, code, status = 'failed') => ({ at, lang: 'c', status, passed: 0, total: 1, code });
const rec = (fields) => ({ drafts: {}, attempts: 0, best: '', passDates: [], ...fields });

const cases = [
  {
    name: 'attempts made on both sides add up from the base',
    base: { records: { a: rec({ attempts: 3 }) } },
    local: { records: { a: rec({ attempts: 5 }) } },
    remote: { records: { a: rec({ attempts: 4 }) } },
    check: (m) => assert.equal(m.records.a.attempts, 6),
  },
  {
    name: 'first sync: no base, attempts of both sides count',
    base: { records: {} },
    local: { records: { a: rec({ attempts: 2 }) } },
    remote: { records: { a: rec({ attempts: 3 }) } },
    check: (m) => assert.equal(m.records.a.attempts, 5),
  },
  {
    name: 'an exercise only one side knows is kept whole',
    base: { records: {} },
    local: { records: { a: rec({ attempts: 1, drafts: { c: 'int main(){}' } }) } },
    remote: { records: { b: rec({ attempts: 2, best: 'accepted', passDates: ['2026-01-02'] }) } },
    check: (m) => {
      assert.deepEqual(m.records.a.drafts, { c: 'int main(){}' });
      assert.equal(m.records.b.best, 'accepted');
      assert.deepEqual(m.records.b.passDates, ['2026-01-02']);
    },
  },
  {
    name: 'pass dates are a union, sorted',
    base: { records: { a: rec({ passDates: ['2026-01-01'] }) } },
    local: { records: { a: rec({ passDates: ['2026-01-01', '2026-01-03'] }) } },
    remote: { records: { a: rec({ passDates: ['2026-01-02', '2026-01-01'] }) } },
    check: (m) => assert.deepEqual(m.records.a.passDates, ['2026-01-01', '2026-01-02', '2026-01-03']),
  },
  {
    name: 'the best result is the best of both, whichever side is newer',
    base: { records: { a: rec({ best: 'failed' }) } },
    local: { records: { a: rec({ best: 'accepted', basis: 'x1', lastAt: 100, lastStatus: 'accepted' }) } },
    remote: { records: { a: rec({ best: 'failed', lastAt: 200, lastStatus: 'failed' }) } },
    check: (m) => {
      assert.equal(m.records.a.best, 'accepted');
      assert.equal(m.records.a.basis, 'x1');
      assert.equal(m.records.a.lastAt, 200);
      assert.equal(m.records.a.lastStatus, 'failed');
    },
  },
  {
    name: 'a draft changed on one side only takes that change',
    base: { records: { a: rec({ drafts: { c: 'v0' } }) } },
    local: { records: { a: rec({ drafts: { c: 'v0' } }) } },
    remote: { records: { a: rec({ drafts: { c: 'v1' }, draftsAt: { c: 50 } }) } },
    check: (m) => {
      assert.equal(m.records.a.drafts.c, 'v1');
      assert.equal(m.records.a.earlier, undefined);
    },
  },
  {
    name: 'a draft changed on both sides: the newer stays, the other is an earlier version',
    base: { records: { a: rec({ drafts: { c: 'v0' } }) } },
    local: { records: { a: rec({ drafts: { c: 'local' }, draftsAt: { c: 300 } }) } },
    remote: { records: { a: rec({ drafts: { c: 'remote' }, draftsAt: { c: 200 } }) } },
    check: (m) => {
      assert.equal(m.records.a.drafts.c, 'local');
      assert.deepEqual(m.records.a.earlier.map(({ lang, code, at }) => ({ lang, code, at })), [{ lang: 'c', code: 'remote', at: 200 }]);
    },
  },
  {
    name: 'the remote draft wins when it is newer, and the local one is kept',
    base: { records: {} },
    local: { records: { a: rec({ drafts: { cpp: 'L' }, draftsAt: { cpp: 1 } }) } },
    remote: { records: { a: rec({ drafts: { cpp: 'R' }, draftsAt: { cpp: 2 } }) } },
    check: (m) => {
      assert.equal(m.records.a.drafts.cpp, 'R');
      assert.deepEqual(m.records.a.earlier.map((e) => e.code), ['L']);
    },
  },
  {
    name: 'a draft removed on one side and edited on the other keeps the edit',
    base: { records: { a: rec({ drafts: { c: 'v0' } }) } },
    local: { records: { a: rec({ drafts: {} }) } },
    remote: { records: { a: rec({ drafts: { c: 'v2' }, draftsAt: { c: 9 } }) } },
    check: (m) => assert.equal(m.records.a.drafts.c, 'v2'),
  },
  {
    name: 'a draft removed on one side (its clock kept) and untouched on the other is removed',
    base: { records: { a: rec({ drafts: { c: 'v0' }, draftsAt: { c: 3 } }) } },
    local: { records: { a: rec({ drafts: {}, draftsAt: { c: 8 } }) } },
    remote: { records: { a: rec({ drafts: { c: 'v0' }, draftsAt: { c: 3 } }) } },
    check: (m) => assert.equal(m.records.a.drafts.c, undefined),
  },
  {
    name: 'a draft missing on one side without a removal is kept',
    base: { records: { a: rec({ drafts: { c: 'v0' }, draftsAt: { c: 3 } }) } },
    local: { records: { a: rec({ drafts: {} }) } },
    remote: { records: { a: rec({ drafts: { c: 'v0' }, draftsAt: { c: 3 } }) } },
    check: (m) => assert.equal(m.records.a.drafts.c, 'v0'),
  },
  {
    name: 'earlier versions from both sides are kept, without duplicates',
    base: { records: {} },
    local: { records: { a: rec({ drafts: { c: 'x' }, earlier: [{ lang: 'c', code: 'e1', at: 5 }] }) } },
    remote: { records: { a: rec({ drafts: { c: 'x' }, earlier: [{ lang: 'c', code: 'e1', at: 5 }, { lang: 'c', code: 'e2', at: 7 }] }) } },
    check: (m) => assert.deepEqual(m.records.a.earlier.map((e) => e.code), ['e2', 'e1']),
  },
  {
    name: 'settings take the newer value when both changed, and a one-sided change otherwise',
    base: { settings: { last: 'a', theme: 'light' }, records: {} },
    local: { settings: { last: 'b', theme: 'light' }, settingsAt: { last: 10 }, records: {} },
    remote: { settings: { last: 'c', theme: 'dark' }, settingsAt: { last: 20, theme: 5 }, records: {} },
    check: (m) => {
      assert.equal(m.settings.last, 'c');
      assert.equal(m.settings.theme, 'dark');
    },
  },
  {
    name: 'older files with "exercises" are read as records',
    base: {},
    local: { version: 1, exercises: { a: rec({ attempts: 2 }) }, settings: {} },
    remote: { records: { b: rec({ attempts: 1 }) } },
    check: (m) => {
      assert.equal(m.exercises, undefined);
      assert.deepEqual(Object.keys(m.records).sort(), ['a', 'b']);
    },
  },
  {
    name: 'an empty service state ({}) keeps every local record',
    base: { revision: 0 },
    local: { records: { a: rec({ attempts: 4, best: 'accepted', passDates: ['2026-02-02'] }) } },
    remote: {},
    check: (m) => {
      assert.equal(m.records.a.attempts, 4);
      assert.equal(m.records.a.best, 'accepted');
    },
  },
  {
    name: 'fields the merge does not know survive',
    base: { records: { a: rec({}) } },
    local: { records: { a: rec({ lang: 'cpp', lastAt: 5 }) }, extra: { k: 1 } },
    remote: { records: { a: rec({ note: 'n' }) } },
    check: (m) => {
      assert.equal(m.records.a.lang, 'cpp');
      assert.equal(m.records.a.note, 'n');
      assert.deepEqual(m.extra, { k: 1 });
    },
  },
  {
    name: 'submission history is the union of both sides by time and code, oldest first',
    base: { records: { a: rec({ history: [sub(1, 'v1')] }) } },
    local: { records: { a: rec({ history: [sub(1, 'v1'), sub(5, 'L')] }) } },
    remote: { records: { a: rec({ history: [sub(1, 'v1'), sub(3, 'R'), sub(5, 'R5'), { at: 'x' }] }) } },
    check: (m) => assert.deepEqual(m.records.a.history.map((e) => `${e.at}${e.code}`), ['1v1', '3R', '5L', '5R5']),
  },
  {
    name: 'a long merged history keeps the newest 20 submissions',
    base: { records: {} },
    local: { records: { a: rec({ history: Array.from({ length: 15 }, (_, k) => sub(2 * k, 'l')) }) } },
    remote: { records: { a: rec({ history: Array.from({ length: 15 }, (_, k) => sub(2 * k + 1, 'r')) }) } },
    check: (m) => {
      assert.equal(m.records.a.history.length, 20);
      assert.deepEqual([m.records.a.history[0].at, m.records.a.history[19].at], [10, 29]);
    },
  },
  {
    name: 'practice days and tips already shown are unions; looks at the solution add up',
    base: { records: { a: rec({ days: ['2026-03-01'], tips: ['T1'], sawSolution: 1 }) } },
    local: { records: { a: rec({ days: ['2026-03-01', '2026-03-04'], tips: ['T1', 'T3'], sawSolution: 2 }) } },
    remote: { records: { a: rec({ days: ['2026-03-02', '2026-03-01'], tips: ['T2', 'T1', 7], sawSolution: 3 }) } },
    check: (m) => {
      assert.deepEqual(m.records.a.days, ['2026-03-01', '2026-03-02', '2026-03-04']);
      assert.deepEqual(m.records.a.tips, ['T1', 'T2', 'T3']);
      assert.equal(m.records.a.sawSolution, 4);
    },
  },
  {
    name: 'a record without history, days, tips or looks at the solution gets none',
    base: { records: {} },
    local: { records: { a: rec({ attempts: 1 }) } },
    remote: { records: { a: rec({ attempts: 1 }) } },
    check: (m) => {
      for (const key of ['history', 'days', 'tips', 'sawSolution']) assert.equal(key in m.records.a, false, key);
    },
  },
];

for (const c of cases) {
  test(c.name, () => {
    const frozen = JSON.stringify([c.base, c.local, c.remote]);
    const merged = mergeStates(c.base, c.local, c.remote);
    c.check(merged);
    assert.equal(JSON.stringify([c.base, c.local, c.remote]), frozen, 'inputs are left unchanged');
    // Merging the result with either side again changes nothing (the next sync is quiet).
    assert.deepEqual(mergeStates(merged, merged, merged), merged);
  });
}

test('merging is symmetric in what it keeps', () => {
  for (const c of cases) {
    const a = mergeStates(c.base, c.local, c.remote);
    const b = mergeStates(c.base, c.remote, c.local);
    for (const id of Object.keys(a.records)) {
      assert.equal(a.records[id].attempts, b.records[id].attempts, c.name);
      assert.deepEqual(a.records[id].passDates, b.records[id].passDates, c.name);
      assert.equal(a.records[id].best, b.records[id].best, c.name);
      const codes = (m) => new Set([...Object.values(m.records[id].drafts), ...(m.records[id].earlier || []).map((e) => e.code)]);
      assert.deepEqual(codes(a), codes(b), c.name);
    }
  }
});

test('an earlier version can be restored, and the replaced draft becomes an earlier one', () => {
  const m = mergeStates(cases[6].base, cases[6].local, cases[6].remote);
  const r = m.records.a;
  assert.equal(restoreEarlier(r, 0, hlc(999, 0, 'dev')), true);
  assert.equal(r.drafts.c, 'remote');
  assert.equal(r.draftsAt.c, hlc(999, 0, 'dev'));
  assert.deepEqual(r.earlier.map((e) => e.code), ['local']);
  assert.equal(restoreEarlier(r, 5, 1), false);
});

test('normalize gives the empty form for anything that is not an object', () => {
  for (const x of [null, [], 'x', 3, undefined]) assert.deepEqual(normalize(x), { records: {}, settings: {}, settingsAt: {}, version: 2 });
});

test('two computers that only saved at different times hold the same progress', () => {
  const a = { version: 1, updated: 100, records: { q: rec({ attempts: 1 }) }, settings: {} };
  const b = { records: { q: rec({ attempts: 1 }) }, version: 1, updated: 900 };
  assert.equal(sameContent(a, b), true);
  assert.equal(sameContent(mergeStates(a, a, b), a), true, 'a later save time alone changes nothing');
  assert.equal(sameContent(a, { ...b, records: { q: rec({ attempts: 2 }) } }), false);
  assert.equal(sameContent({ exercises: { q: rec({}) } }, { records: { q: rec({}) } }), true);
});

test('two computers that merged each other\'s work in either order agree, and then stop exchanging', () => {
  const base = { version: 1, records: { g: rec({ attempts: 1, history: [sub(1, 'a')], days: ['2026-03-01'] }) }, settings: {} };
  const one = { version: 1, records: { g: rec({ attempts: 2, lastAt: 10, history: [sub(1, 'a'), sub(10, 'one')], days: ['2026-03-01', '2026-03-05'], tips: ['Y', 'X'] }) }, settings: {} };
  const two = { version: 1, records: { g: rec({ attempts: 2, lastAt: 20, history: [sub(1, 'a'), sub(20, 'two')], days: ['2026-03-01', '2026-03-06'], tips: ['Z', 'X'], sawSolution: 1 }) }, settings: {} };
  // The first computer pushes, the second merges it in, the first pulls the result.
  const atTwo = mergeStates(one, two, one);
  const atOne = mergeStates(one, one, atTwo);
  assert.equal(sameContent(atOne, atTwo), true);
  // Older-format counts are credited to whichever side upgrades them; the totals agree.
  const totals = (m) => JSON.stringify(Object.values(m.records).map((r) => [r.attempts, r.sawSolution, r.history, r.days, r.tips]));
  assert.equal(totals(mergeStates(base, one, two)), totals(mergeStates(base, two, one)), 'the same whichever side merges');
  const g = atTwo.records.g;
  assert.deepEqual(g.history.map((e) => e.code), ['a', 'one', 'two']);
  assert.deepEqual(g.days, ['2026-03-01', '2026-03-05', '2026-03-06']);
  assert.deepEqual(g.tips, ['X', 'Y', 'Z']);
  // Once both hold the same, a further sync from either side changes nothing.
  assert.equal(sameContent(mergeStates(atTwo, atOne, atTwo), atOne), true);
  assert.equal(sameContent(mergeStates(atOne, atTwo, atOne), atTwo), true);
});

// ---- the faults a hunt for lost work found, one row each -----------------------------------
import { join, stamp, upgrade, forAccount, wellFormed, replacesLocalWrite, asGuestWork, restoreVersion, trimHistory as trim } from '../../web/src/sync-merge.js';

const DAY = 24 * 3600 * 1000;
const T = 1_780_000_000_000;
const copy = (x) => JSON.parse(JSON.stringify(x));
// A computer: its progress and the edits it makes, stamped as the page does before each save.
function computer(id, state = { version: 2, records: {}, settings: {} }) {
  const pc = { id, data: copy(state), prev: null };
  pc.edit = (now, fn) => { fn(pc.data); stamp(pc.prev, pc.data, id, now); pc.prev = copy(pc.data); return pc; };
  pc.take = (other) => { pc.data = join(pc.data, other); pc.data.device = id; pc.prev = copy(pc.data); return pc; };
  return pc;
}
const submitTo = (r, at, status, code, basis = 'b1') => {
  (r.history || (r.history = [])).push({ at, lang: 'c', status, passed: 0, total: 1, code });
  r.attempts = (r.attempts || 0) + 1;
  r.lastAt = at;
  r.lastStatus = status;
  if (r.basis !== basis) r.best = '';
  r.basis = basis;
  if (status === 'accepted') r.best = 'accepted'; else if (r.best !== 'accepted') r.best = 'failed';
};
const rec0 = () => ({ drafts: {}, attempts: 0, best: '', passDates: [] });

const findings = [
  {
    name: 'an older or empty account state never rolls back or removes drafts and settings',
    run: () => {
      const b = computer('pcb').edit(T, (s) => { s.records.sum = rec0(); s.records.sum.drafts.c = 'v1'; s.settings.theme = 'dark'; });
      const older = forAccount(copy(b.data));
      b.edit(T + 1000, (s) => { s.records.sum.drafts.c = 'v2'; });
      for (const answer of [{}, { records: {} }, older]) {
        const m = join(b.data, answer);
        assert.equal(m.records.sum.drafts.c, 'v2');
        assert.equal(m.settings.theme, 'dark');
      }
      for (const bad of [null, 'x', [], { records: [] }, { settings: 'x' }]) assert.equal(wellFormed(bad), false, JSON.stringify(bad));
      assert.equal(wellFormed({}), true);
    },
  },
  {
    name: 'a computer whose clock is a day behind still wins with its newer draft and result',
    run: () => {
      const a = computer('pca').edit(T, (s) => { s.records.sum = rec0(); s.records.sum.drafts.c = 'A'; submitTo(s.records.sum, T, 'failed', 'a1'); });
      const b = computer('pcb').take(a.data);
      // Later in real time, but B's clock says yesterday.
      b.edit(T + 5000 - DAY, (s) => { s.records.sum.drafts.c = 'B'; submitTo(s.records.sum, T + 5000 - DAY, 'accepted', 'b1'); });
      const m = join(a.data, b.data);
      assert.equal(m.records.sum.drafts.c, 'B');
      assert.equal(m.records.sum.lastStatus, 'accepted');
      assert.ok(m.records.sum.history.some((e) => e.code === 'b1'), 'B\'s pass stays in the history');
      assert.equal(m.records.sum.best, 'accepted');
      assert.equal(m.records.sum.attempts, 2);
    },
  },
  {
    name: 'a pass cleared by a bank change does not come back from an earlier upload',
    run: () => {
      const a = computer('pca').edit(T, (s) => { s.records.sum = rec0(); submitTo(s.records.sum, T, 'accepted', 'ok', 'old-tests'); });
      const uploaded = forAccount(copy(a.data));
      a.edit(T + 1000, (s) => { const r = s.records.sum; r.basis = 'new-tests'; r.best = 'failed'; r.clearedAt = T + 1000; });
      const m = join(join(a.data, uploaded), uploaded);
      assert.equal(m.records.sum.best, 'failed');
      assert.equal(m.records.sum.basis, 'new-tests');
      assert.equal(m.records.sum.results['old-tests'], 'accepted', 'the pass stays recorded for the old tests');
    },
  },
  {
    name: 'a lost or overtaken upload is not counted twice',
    run: () => {
      const a = computer('pca');
      for (let k = 0; k < 5; k++) a.edit(T + k, (s) => { s.records.sum = s.records.sum || rec0(); submitTo(s.records.sum, T + k, 'failed', `c${k}`); });
      const account1 = forAccount(copy(a.data)); // reached the service, answer lost
      const again = join(join(a.data, account1), account1);
      assert.equal(again.records.sum.attempts, 5);
      const b = computer('pcb').take(account1).edit(T + 10, (s) => submitTo(s.records.sum, T + 10, 'failed', 'b'));
      assert.equal(join(join(again, b.data), account1).records.sum.attempts, 6);
    },
  },
  {
    name: 'history over budget is trimmed alike on both computers, and stays put on the next merge',
    run: () => {
      const big = 'x'.repeat(400);
      const mk = (id, n) => computer(id).edit(T, (s) => { s.records.sum = rec0(); for (let k = 0; k < n; k++) submitTo(s.records.sum, T + k, 'failed', `${id}${k}${big}`); });
      const a = mk('pca', 15);
      const b = mk('pcb', 15);
      const ab = join(a.data, b.data);
      const ba = join(b.data, a.data);
      trim(ab, { budget: 4000 });
      trim(ba, { budget: 4000 });
      assert.deepEqual(ab.records.sum.history, ba.records.sum.history);
      const again = copy(ab);
      trim(again, { budget: 4000 });
      assert.deepEqual(again.records.sum.history, ab.records.sum.history);
      assert.ok(ab.records.sum.history.some((e) => e.code.startsWith('pca14')) && ab.records.sum.history.some((e) => e.code.startsWith('pcb14')),
        'each computer keeps its newest submission');
    },
  },
  {
    name: 'a backup is made only when a merge replaces something written here since the last sync',
    run: () => {
      const a = computer('pca').edit(T, (s) => { s.records.sum = rec0(); s.records.sum.drafts.c = 'A'; });
      const base = forAccount(copy(a.data));
      const other = computer('pcb').take(base).edit(T + 100, (s) => { s.records.sum.drafts.c = 'B'; });
      // Not edited here since: taking the other computer's draft replaces nothing of ours.
      assert.equal(replacesLocalWrite(base, a.data, join(a.data, other.data)), false);
      a.edit(T + 50, (s) => { s.records.sum.drafts.c = 'A2'; });
      assert.equal(replacesLocalWrite(base, a.data, join(a.data, other.data)), true);
      // Only growing lists and counts: nothing replaced.
      const sub = computer('pcb').take(base).edit(T + 200, (s) => submitTo(s.records.sum, T + 200, 'failed', 'x'));
      assert.equal(replacesLocalWrite(base, a.data, join(a.data, sub.data)), false);
    },
  },
  {
    name: 'guest work merged into an account adds to what was counted there, once',
    run: () => {
      const guest = computer('pca').edit(T, (s) => { s.records.sum = rec0(); submitTo(s.records.sum, T, 'accepted', 'g'); });
      const account = computer('pca').edit(T + 10, (s) => { s.records.sum = rec0(); submitTo(s.records.sum, T + 10, 'failed', 'acc'); });
      const work = asGuestWork(guest.data, 'pca');
      const m = join(join(account.data, work), work);
      assert.equal(m.records.sum.attempts, 2);
      assert.equal(m.records.sum.best, 'accepted');
    },
  },
  {
    name: 'restoring a backup brings its drafts back and keeps the replaced ones as earlier versions',
    run: () => {
      const a = computer('pca').edit(T, (s) => { s.records.sum = rec0(); s.records.sum.drafts.c = 'saved'; s.settings.theme = 'dark'; });
      const backup = copy(a.data);
      a.edit(T + 10, (s) => { s.records.sum.drafts.c = 'now'; s.settings.theme = 'light'; });
      const { state, changed } = restoreVersion(a.data, backup, 'pca', T + 20);
      assert.equal(changed, 2);
      assert.equal(state.records.sum.drafts.c, 'saved');
      assert.equal(state.settings.theme, 'dark');
      assert.deepEqual(state.records.sum.earlier.map((e) => e.code), ['now']);
      // Saved and merged again, the replaced draft is still there to go back to.
      stamp(a.data, state, 'pca', T + 30);
      assert.deepEqual(join(state, a.data).records.sum.earlier.map((e) => e.code), ['now']);
      // The restore is an ordinary newer write: another computer takes it.
      assert.equal(join(a.data, state).records.sum.drafts.c, 'saved');
    },
  },
  {
    name: 'older files and account records are upgraded once, with the counts from the account kept apart',
    run: () => {
      const base = { version: 1, records: { sum: rec({ attempts: 3, best: 'accepted', basis: 'b1' }) } };
      const local = { version: 1, records: { sum: rec({ attempts: 5, best: 'accepted', basis: 'b1', lastAt: 9, lastStatus: 'failed' }) } };
      const remote = { version: 1, records: { sum: rec({ attempts: 4, best: 'failed' }) } };
      const l = upgrade(local, { device: 'pca', base });
      assert.deepEqual(l.records.sum.attemptsBy, { legacy: 3, pca: 2 });
      assert.equal(join(l, upgrade(remote)).records.sum.attempts, 6);
      assert.deepEqual(upgrade(l, { device: 'pca', base }), l, 'a current state is not upgraded again');
      assert.equal(l.records.sum.best, 'accepted');
    },
  },
];

for (const f of findings) test(f.name, f.run);
