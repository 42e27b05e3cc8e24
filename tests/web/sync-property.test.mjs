// Property test of the progress merge: many random runs of computers editing, submitting and
// syncing through one account (lost answers, repeated and overtaken syncs, skewed clocks, a
// service restored to an older state). The seed is fixed by TAVRIN_MERGE_SEED (the test command
// sets it); a failing run names its seed. bench/merge_property.mjs runs many more.
import { test } from 'node:test';
import { simulate, algebra } from './sync-sim.mjs';

const seed = Number(process.env.TAVRIN_MERGE_SEED || 20261211) >>> 0;
const RUNS = 40;

test('computers converge, keep every latest write and count each submission once', () => {
  for (let k = 0; k < RUNS; k++) simulate((seed + k * 7919) >>> 0);
});

test('two and three computers, long runs', () => {
  for (let k = 0; k < 4; k++) {
    simulate((seed ^ (k * 104729)) >>> 0, { devices: 2, steps: 300 });
    simulate((seed ^ (k * 130363)) >>> 0, { devices: 3, steps: 300 });
  }
});

test('the merge is commutative, associative and idempotent', () => {
  for (let k = 0; k < RUNS; k++) algebra((seed + k * 15485863) >>> 0);
});
