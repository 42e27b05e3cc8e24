// A simulation of several computers editing progress and syncing it through one account, with
// lost answers, repeated and overtaken syncs, skewed clocks and a service restored to an older
// state. Used by the merge's property test and by bench/merge_property.mjs for longer runs.
import assert from 'node:assert/strict';
import { join, stamp, sameContent, forAccount, clockOf, upgrade, wellFormed } from '../../web/src/sync-merge.js';

// Small, fast, seedable (mulberry32).
export function random(seed) {
  let a = seed >>> 0;
  return () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

const clone = (x) => JSON.parse(JSON.stringify(x));
const EXERCISES = ['sum', 'max', 'greet'];
const LANGS = ['c', 'cpp'];
const DAY = 24 * 3600 * 1000;

// One run: devices, steps; returns a summary. Throws (assert) when a property fails.
export function simulate(seed, { devices = 2 + Math.floor(random(seed ^ 0x5eed)() * 2), steps = 120, legacy = (seed & 1) === 1 } = {}) {
  const rnd = random(seed);
  const pick = (list) => list[Math.floor(rnd() * list.length)];
  let now = 1_780_000_000_000;
  const account = { revision: 0, state: {}, history: [] };
  const ids = Array.from({ length: devices }, (_, k) => `dev${k}`);
  const comps = ids.map((id) => ({
    id,
    skew: pick([0, 0, -DAY, -3600_000, 90_000, DAY / 2]), // this computer's clock error
    data: { version: 1, records: {}, settings: {} }, // the page's progress, plain edits on top
    written: null, // the progress as last stamped and saved
    revision: 0, // the last account revision this computer saw
  }));
  const submissions = {}; // exercise -> submissions made, all devices
  if (legacy) {
    // Files and the account record in the older format: plain counts, millisecond stamps. The
    // account holds 3 attempts of "sum"; each computer made some more that it never synced.
    const old = (n) => ({ version: 1, settings: { theme: 'old' }, records: { sum: {
      drafts: { c: 'old draft' }, draftsAt: { c: now - 5000 }, attempts: n, best: 'failed', passDates: [], lastAt: now - 5000, lastStatus: 'failed',
      history: [{ at: now - 5000, lang: 'c', status: 'failed', passed: 0, total: 1, code: 'old' }] } } });
    account.revision = 1;
    account.state = old(3);
    submissions.sum = 3;
    for (const c of comps) {
      const extra = Math.floor(rnd() * 3);
      submissions.sum += extra;
      c.data = upgrade(old(3 + extra), { device: c.id, base: account.state });
      c.written = clone(c.data);
      c.revision = 1;
    }
  }
  const writes = []; // { field, value, clock }
  const newestByDevice = {}; // `${exercise}|${device}` -> code of its newest submission

  const clockOfComp = (c) => now + c.skew;
  const save = (c) => {
    stamp(c.written, c.data, c.id, clockOfComp(c));
    c.written = clone(c.data);
  };
  const record = (c, id) => {
    const r = c.data.records[id] || (c.data.records[id] = { drafts: {}, attempts: 0, best: '', passDates: [] });
    return r;
  };

  const ops = {
    editDraft(c) {
      const id = pick(EXERCISES);
      const lang = pick(LANGS);
      const value = `${c.id}:${now}:${Math.floor(rnd() * 1e6)}`;
      record(c, id).drafts[lang] = value;
      save(c);
      writes.push({ field: `d|${id}|${lang}`, value, clock: c.data.records[id].draftsAt[lang] });
    },
    dropDraft(c) {
      const id = pick(EXERCISES);
      const r = c.data.records[id];
      const lang = pick(LANGS);
      if (!r || typeof r.drafts[lang] !== 'string') return;
      delete r.drafts[lang];
      save(c);
      writes.push({ field: `d|${id}|${lang}`, value: undefined, clock: c.data.records[id].draftsAt[lang] });
    },
    setting(c) {
      const name = pick(['theme', 'fontSize']);
      const value = `${c.id}-${Math.floor(rnd() * 1e6)}`;
      c.data.settings[name] = value;
      save(c);
      writes.push({ field: `s|${name}`, value, clock: c.data.settingsAt[name] });
    },
    submit(c) {
      const id = pick(EXERCISES);
      const r = record(c, id);
      const status = rnd() < 0.4 ? 'accepted' : 'failed';
      const code = `${c.id}:sub:${now}`;
      if (!Array.isArray(r.history)) r.history = [];
      r.history.push({ at: clockOfComp(c), lang: 'c', status, passed: 0, total: 1, code });
      r.attempts = (r.attempts || 0) + 1;
      r.lastAt = clockOfComp(c);
      r.lastStatus = status;
      if (status === 'accepted') { r.best = 'accepted'; r.basis = 'tests-1'; } else if (r.best !== 'accepted') r.best = 'failed';
      save(c);
      submissions[id] = (submissions[id] || 0) + 1;
      newestByDevice[`${id}|${c.id}`] = code;
      writes.push({ field: `l|${id}`, value: status, clock: c.data.records[id].lastHlc });
    },
    sync(c) { syncOnce(c, { lose: rnd() < 0.2, overtaken: rnd() < 0.15 }); },
    restoreOlder() {
      // The service is put back to an older backup of the account.
      if (account.history.length < 2) return;
      const older = pick(account.history.slice(0, -1));
      account.state = clone(older.state);
      account.revision = older.revision;
    },
  };

  // Pull, merge, push; lose: the push reached the service but its answer was lost;
  // overtaken: another computer's push lands between this one's pull and push.
  function syncOnce(c, { lose = false, overtaken = false, repair = rnd() < 0.5 } = {}) {
    save(c);
    const pulled = { revision: account.revision, state: clone(account.state) };
    assert.ok(wellFormed(pulled.state));
    if (pulled.revision < c.revision) {
      // Backwards: this computer keeps its state and may repair the account with it.
      if (!repair) return;
      pulled.revision = account.revision;
    }
    const merged = join(c.data, pulled.state);
    if (overtaken) {
      const other = pick(comps.filter((o) => o !== c));
      if (other) syncOnce(other);
    }
    c.data = merged;
    save(c);
    if (account.revision !== pulled.revision) return; // 409: next sync tries again
    account.revision++;
    account.state = forAccount(merged);
    account.history.push({ revision: account.revision, state: clone(account.state) });
    if (lose) return;
    c.revision = account.revision;
  }

  for (let k = 0; k < steps; k++) {
    now += Math.floor(rnd() * 5000);
    const c = pick(comps);
    const r = rnd();
    if (r < 0.3) ops.editDraft(c);
    else if (r < 0.36) ops.dropDraft(c);
    else if (r < 0.44) ops.setting(c);
    else if (r < 0.64) ops.submit(c);
    else if (r < 0.97) ops.sync(c);
    else ops.restoreOlder();
  }
  // Everyone syncs until nothing changes (the account is never restored from here on).
  for (let round = 0; round < 4; round++) for (const c of comps) syncOnce(c, { repair: true });

  // Converged.
  if (process.env.SIM_DEBUG) for (const c of comps) if (!sameContent(c.data, comps[0].data)) diff(upgrade(c.data), upgrade(comps[0].data));
  for (const c of comps) assert.ok(sameContent(c.data, comps[0].data), `seed ${seed}: ${c.id} differs from ${comps[0].id}`);
  const final = upgrade(comps[0].data);
  // Every write is present or superseded by a later write of the same field.
  const latest = new Map();
  for (const w of writes) if (!latest.has(w.field) || w.clock > latest.get(w.field).clock) latest.set(w.field, w);
  for (const [field, w] of latest) {
    const [kind, a, b] = field.split('|');
    if (kind === 'd') {
      const r = final.records[a];
      assert.equal(r.drafts[b], w.value, `seed ${seed}: draft ${field} lost its latest write`);
      assert.equal(clockOf(r.draftsAt[b]), w.clock, `seed ${seed}: draft ${field}`);
    } else if (kind === 's') {
      assert.equal(final.settings[a], w.value, `seed ${seed}: setting ${a}`);
    } else {
      assert.equal(final.records[a].lastStatus, w.value, `seed ${seed}: last result of ${a}`);
      assert.equal(final.records[a].lastHlc, w.clock, `seed ${seed}: last result of ${a}`);
    }
  }
  // Attempts equal the submissions made; each device's newest submission per exercise is kept.
  for (const id of EXERCISES) {
    assert.equal(final.records[id] ? final.records[id].attempts : 0, submissions[id] || 0, `seed ${seed}: attempts of ${id}`);
  }
  for (const [key, code] of Object.entries(newestByDevice)) {
    const [id] = key.split('|');
    assert.ok(final.records[id].history.some((e) => e.code === code), `seed ${seed}: newest submission ${key} trimmed`);
  }
  // The merge is idempotent and commutative on the final states.
  assert.ok(sameContent(join(final, final), final), `seed ${seed}: join is not idempotent`);
  return { devices, writes: writes.length, submissions: Object.values(submissions).reduce((s, n) => s + n, 0), revision: account.revision };
}

// Commutativity and associativity of the join on states built by simulate's computers.
export function algebra(seed) {
  const rnd = random(seed);
  const states = [];
  const pick = (list) => list[Math.floor(rnd() * list.length)];
  for (let k = 0; k < 3; k++) {
    const dev = `d${k}`;
    const s = { version: 1, records: {}, settings: {} };
    let prev = null;
    let t = 1_780_000_000_000 + Math.floor(rnd() * 1e6);
    for (let n = 0; n < 12; n++) {
      t += Math.floor(rnd() * 4000);
      const id = pick(EXERCISES);
      const r = s.records[id] || (s.records[id] = { drafts: {}, attempts: 0, best: '', passDates: [] });
      const what = rnd();
      if (what < 0.5) r.drafts[pick(LANGS)] = `${dev}-${n}`;
      else if (what < 0.8) {
        r.attempts++;
        (r.history || (r.history = [])).push({ at: t, lang: 'c', status: 'failed', passed: 0, total: 1, code: `${dev}-${n}` });
      } else s.settings.theme = `${dev}-${n}`;
      stamp(prev, s, dev, t);
      prev = clone(s);
      if (rnd() < 0.3 && states.length) Object.assign(s, join(s, pick(states)), { device: dev });
    }
    states.push(clone(s));
  }
  const [a, b, c] = states;
  assert.ok(sameContent(join(a, b), join(b, a)), `seed ${seed}: join is not commutative`);
  assert.ok(sameContent(join(join(a, b), c), join(a, join(b, c))), `seed ${seed}: join is not associative`);
  assert.ok(sameContent(join(join(a, b), b), join(a, b)), `seed ${seed}: join is not idempotent`);
}

function diff(a, b, path = '') {
  const { canonical } = { canonical: (x) => JSON.stringify(x) };
  if (typeof a !== 'object' || typeof b !== 'object' || a === null || b === null) {
    if (canonical(a) !== canonical(b)) console.log('differs at', path, canonical(a), canonical(b));
    return;
  }
  for (const k of new Set([...Object.keys(a), ...Object.keys(b)])) if (k !== 'device' && k !== 'updated') diff(a[k], b[k], path + '.' + k);
}
