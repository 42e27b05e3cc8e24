// The page's comparers against the table the judge's own test reads: the diff
// views must never call equal what the judge rejects, or the other way round.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { sameToken } from '../../web/src/lib/equal.js';
import { firstDifference } from '../../web/src/lib/diff.js';
import { lineDiff } from '../../web/src/lib/linediff.js';

const { cases } = JSON.parse(readFileSync(new URL('../fixtures/equality.json', import.meta.url), 'utf8'));

test('first difference: none exactly when the judge accepts', () => {
  for (const c of cases) {
    for (const mode of ['tokens', 'float']) {
      const want = mode === 'float' ? c.float : c.tokens;
      assert.equal(firstDifference(c.expected, c.actual, mode) === null, want, `${mode} ${JSON.stringify(c)}`);
    }
  }
});

test('line view: a one-line output is all same exactly when the judge accepts', () => {
  let checked = 0;
  for (const c of cases) {
    if (/[\n\r\v\f]/.test(c.expected + c.actual) || !c.expected.trim() || !c.actual.trim()) continue;
    checked++;
    for (const mode of ['tokens', 'float']) {
      const want = mode === 'float' ? c.float : c.tokens;
      const { rows } = lineDiff(c.expected, c.actual, mode);
      assert.equal(rows.every((r) => r.kind === 'same'), want, `${mode} ${JSON.stringify(c)}`);
    }
  }
  assert.ok(checked > 0, 'the table holds one-line cases');
});

test('token equality is what both views build on', () => {
  for (const c of cases) {
    if (/\s/.test(c.expected + c.actual) || !c.expected || !c.actual) continue;
    assert.equal(sameToken(c.expected, c.actual, 'float'), c.float, JSON.stringify(c));
    assert.equal(sameToken(c.expected, c.actual, 'tokens'), c.tokens, JSON.stringify(c));
  }
});
