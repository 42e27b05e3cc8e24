// Three-way merge of learning progress: base (the last synced state), local (this computer)
// and remote (the account's state on the service). Nothing a learner did on either side is
// lost: attempts add up from the base, pass dates are a union, the best result is the best
// of both, settings take the newer value, and when both sides changed a draft the newer one
// stays current and the other is kept as an earlier version that can be restored.
//
// Pure functions, no page access: loaded as a plain script by the page (globalThis.TavrinMerge)
// and by the unit tests.
(function (root) {
  'use strict';

  const RANK = { accepted: 3, failed: 2, compile_error: 1 };
  const EARLIER_LIMIT = 20; // earlier draft versions kept per exercise
  // The page's own limits for the lists it keeps per exercise.
  const HISTORY_LIMIT = 20; // judged submissions
  const DAYS_LIMIT = 400; // practice days

  function isObject(x) {
    return x !== null && typeof x === 'object' && !Array.isArray(x);
  }

  function clone(x) {
    return x === undefined ? undefined : JSON.parse(JSON.stringify(x));
  }

  // Key order does not matter for equality.
  function canonical(x) {
    if (Array.isArray(x)) return '[' + x.map(canonical).join(',') + ']';
    if (isObject(x)) {
      return '{' + Object.keys(x).sort().map((k) => JSON.stringify(k) + ':' + canonical(x[k])).join(',') + '}';
    }
    return JSON.stringify(x === undefined ? null : x);
  }

  function same(a, b) {
    return canonical(a) === canonical(b);
  }

  function num(x) {
    return typeof x === 'number' && Number.isFinite(x) && x >= 0 ? x : 0;
  }

  // Any stored form to { records, settings, ... }: older files keep the map under "exercises".
  function normalize(state) {
    const s = isObject(state) ? clone(state) : {};
    const records = {};
    for (const key of ['exercises', 'records']) {
      if (!isObject(s[key])) continue;
      for (const [id, r] of Object.entries(s[key])) if (isObject(r)) records[id] = r;
    }
    delete s.exercises;
    s.records = records;
    if (!isObject(s.settings)) s.settings = {};
    if (!isObject(s.settingsAt)) s.settingsAt = {};
    return s;
  }

  function rank(status) {
    return RANK[status] || 0;
  }

  // Three-way choice of one value. Returns { value, conflict } where conflict means both
  // sides changed it to different values.
  function pick3(b, l, r) {
    if (same(l, r)) return { value: l, conflict: false };
    if (same(l, b)) return { value: r, conflict: false };
    if (same(r, b)) return { value: l, conflict: false };
    return { value: l, conflict: true };
  }

  function mergeSettings(b, l, r, out) {
    const names = new Set([...Object.keys(l.settings), ...Object.keys(r.settings)]);
    out.settings = {};
    out.settingsAt = {};
    for (const name of names) {
      const lAt = num(l.settingsAt[name]);
      const rAt = num(r.settingsAt[name]);
      const p = pick3(b.settings[name], l.settings[name], r.settings[name]);
      let value = p.value;
      if (p.conflict) value = rAt > lAt ? r.settings[name] : l.settings[name];
      if (value !== undefined) out.settings[name] = clone(value);
      const at = Math.max(lAt, rAt);
      if (at > 0) out.settingsAt[name] = at;
    }
  }

  function earlierKey(e) {
    return e.lang + '\u0000' + e.code;
  }

  // Drafts per language. Both sides changed the same draft: the newer stays, the other is kept
  // in "earlier" (newest first), as are earlier versions either side kept already.
  function mergeDrafts(b, l, r, out) {
    const bd = isObject(b.drafts) ? b.drafts : {};
    const ld = isObject(l.drafts) ? l.drafts : {};
    const rd = isObject(r.drafts) ? r.drafts : {};
    const lAt = isObject(l.draftsAt) ? l.draftsAt : {};
    const rAt = isObject(r.draftsAt) ? r.draftsAt : {};
    const earlier = [];
    const seen = new Set();
    const keep = (e) => {
      if (!e || typeof e.code !== 'string' || typeof e.lang !== 'string') return;
      const key = earlierKey(e);
      if (seen.has(key)) return;
      seen.add(key);
      earlier.push({ lang: e.lang, code: e.code, at: num(e.at) });
    };
    for (const list of [l.earlier, r.earlier]) if (Array.isArray(list)) list.forEach(keep);

    out.drafts = {};
    out.draftsAt = {};
    const langs = new Set([...Object.keys(ld), ...Object.keys(rd), ...Object.keys(bd)]);
    for (const lang of langs) {
      const p = pick3(bd[lang], ld[lang], rd[lang]);
      let value = p.value;
      let at = Math.max(num(lAt[lang]), num(rAt[lang]));
      if (p.conflict) {
        const remoteNewer = num(rAt[lang]) > num(lAt[lang]);
        const winner = remoteNewer ? rd[lang] : ld[lang];
        const loser = remoteNewer ? ld[lang] : rd[lang];
        const loserAt = remoteNewer ? num(lAt[lang]) : num(rAt[lang]);
        // A draft one side removed while the other edited it: the edit stays.
        value = winner === undefined ? loser : winner;
        if (winner !== undefined && typeof loser === 'string') keep({ lang, code: loser, at: loserAt });
      }
      if (typeof value === 'string') {
        out.drafts[lang] = value;
        if (at > 0) out.draftsAt[lang] = at;
      }
    }
    if (!Object.keys(out.draftsAt).length) delete out.draftsAt;
    // The current drafts need no earlier copy of themselves.
    const current = new Set(Object.entries(out.drafts).map(([lang, code]) => earlierKey({ lang, code })));
    const kept = earlier.filter((e) => !current.has(earlierKey(e)));
    kept.sort((x, y) => y.at - x.at);
    if (kept.length) out.earlier = kept.slice(0, EARLIER_LIMIT);
    else delete out.earlier;
  }

  function mergeRecord(bRaw, lRaw, rRaw) {
    const b = isObject(bRaw) ? bRaw : {};
    const l = isObject(lRaw) ? lRaw : {};
    const r = isObject(rRaw) ? rRaw : {};
    const lNewer = num(l.lastAt) >= num(r.lastAt);
    const newer = lNewer ? l : r;
    const out = {};
    // Fields this merge does not know: three-way, the side with the later verdict wins a conflict.
    for (const key of new Set([...Object.keys(l), ...Object.keys(r)])) {
      const p = pick3(b[key], l[key], r[key]);
      const value = p.conflict ? newer[key] : p.value;
      if (value !== undefined) out[key] = clone(value);
    }

    const base = num(b.attempts);
    out.attempts = base + Math.max(0, num(l.attempts) - base) + Math.max(0, num(r.attempts) - base);

    const best = rank(l.best) >= rank(r.best) ? l.best : r.best;
    if (typeof best === 'string') out.best = best;
    if (out.best === 'accepted') {
      const from = l.best === 'accepted' ? (r.best === 'accepted' && !lNewer ? r : l) : r;
      if (from.basis !== undefined) out.basis = clone(from.basis);
    }

    const days = new Set();
    for (const side of [l, r]) if (Array.isArray(side.passDates)) side.passDates.forEach((d) => typeof d === 'string' && days.add(d));
    out.passDates = [...days].sort();

    const lastAt = Math.max(num(l.lastAt), num(r.lastAt));
    if (lastAt > 0) {
      out.lastAt = lastAt;
      if (newer.lastStatus !== undefined) out.lastStatus = newer.lastStatus;
    }
    mergeDrafts(b, l, r, out);
    mergeLists(b, l, r, out);
    return out;
  }

  function historyEntryValid(e) {
    return isObject(e) && typeof e.at === 'number' && Number.isFinite(e.at) && typeof e.code === 'string'
      && typeof e.status === 'string';
  }

  function historyKey(e) {
    return JSON.stringify([e.at, String(e.lang), e.status, e.code]);
  }

  // Lists that only grow (submission history, practice days, tips already shown) are the union of
  // both sides in one fixed order, so that two computers merging the same records in either
  // direction write the same thing and stop exchanging it. Looks at the worked solution add up
  // from the base like attempts. A list neither side has stays absent.
  function mergeLists(b, l, r, out) {
    const has = (key) => l[key] !== undefined || r[key] !== undefined;
    const both = (key) => [l[key], r[key]].flatMap((x) => (Array.isArray(x) ? x : []));
    if (has('history')) {
      const seen = new Map();
      for (const e of both('history')) if (historyEntryValid(e) && !seen.has(historyKey(e))) seen.set(historyKey(e), clone(e));
      const list = [...seen.entries()]
        .sort((x, y) => x[1].at - y[1].at || (x[0] < y[0] ? -1 : x[0] > y[0] ? 1 : 0))
        .map((x) => x[1]);
      if (list.length) out.history = list.slice(-HISTORY_LIMIT);
      else delete out.history;
    }
    for (const [key, limit, sorted] of [['days', DAYS_LIMIT, true], ['tips', 0, true]]) {
      if (!has(key)) continue;
      const list = [...new Set(both(key).filter((x) => typeof x === 'string'))];
      if (sorted) list.sort();
      out[key] = limit ? list.slice(-limit) : list;
    }
    if (has('sawSolution')) {
      const count = (x) => (x === true ? 1 : num(x));
      const base = count(b.sawSolution);
      out.sawSolution = base + Math.max(0, count(l.sawSolution) - base) + Math.max(0, count(r.sawSolution) - base);
    }
  }

  // The merged state; base, local and remote are left as they were.
  function mergeStates(base, local, remote) {
    const b = normalize(base);
    const l = normalize(local);
    const r = normalize(remote);
    const out = {};
    for (const key of new Set([...Object.keys(l), ...Object.keys(r)])) {
      if (key === 'records' || key === 'settings' || key === 'settingsAt') continue;
      const p = pick3(b[key], l[key], r[key]);
      if (p.value !== undefined) out[key] = clone(p.value);
    }
    const updated = Math.max(num(l.updated), num(r.updated));
    if (updated > 0) out.updated = updated;
    out.records = {};
    const ids = new Set([...Object.keys(l.records), ...Object.keys(r.records)]);
    for (const id of ids) {
      out.records[id] = mergeRecord(b.records[id], l.records[id], r.records[id]);
    }
    mergeSettings(b, l, r, out);
    return out;
  }

  // Same progress, whatever the save times: "updated" is stamped on every save and must not
  // make two computers push to each other for ever.
  function sameContent(a, b) {
    const strip = (x) => {
      const n = normalize(x);
      delete n.updated;
      return n;
    };
    return same(strip(a), strip(b));
  }

  // Puts an earlier version back as the current draft; the draft it replaces becomes an
  // earlier version itself. Returns true when the record changed.
  function restoreEarlier(record, index, now) {
    if (!isObject(record) || !Array.isArray(record.earlier)) return false;
    const e = record.earlier[index];
    if (!e || typeof e.code !== 'string') return false;
    if (!isObject(record.drafts)) record.drafts = {};
    if (!isObject(record.draftsAt)) record.draftsAt = {};
    const current = record.drafts[e.lang];
    record.earlier.splice(index, 1);
    if (typeof current === 'string' && current !== e.code) {
      record.earlier.unshift({ lang: e.lang, code: current, at: num(record.draftsAt[e.lang]) });
      record.earlier = record.earlier.slice(0, EARLIER_LIMIT);
    }
    record.drafts[e.lang] = e.code;
    record.draftsAt[e.lang] = now;
    if (!record.earlier.length) delete record.earlier;
    return true;
  }

  root.TavrinMerge = { normalize, mergeStates, mergeRecord, restoreEarlier, same, sameContent, canonical };
})(globalThis);
