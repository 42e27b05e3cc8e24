#!/usr/bin/env node
// A longer run of the progress merge's property test: many seeds of computers editing and
// syncing through one account (see tests/web/sync-sim.mjs). Prints the seeds covered and the
// merge's cost per simulated step against a bare deep copy of the same states (the baseline,
// measured in the same run).
// Usage: node bench/merge_property.mjs [--runs N] [--seed S]
import { simulate, algebra } from '../tests/web/sync-sim.mjs';

const arg = (name, fallback) => {
  const k = process.argv.indexOf(name);
  return k > 0 ? Number(process.argv[k + 1]) : fallback;
};
const runs = arg('--runs', 2000);
const seed = arg('--seed', Date.now() % 2 ** 31) >>> 0;

let steps = 0;
const started = process.hrtime.bigint();
for (let k = 0; k < runs; k++) {
  const s = (seed + k * 7919) >>> 0;
  const n = 100 + (k % 5) * 60;
  simulate(s, { steps: n });
  if (k % 4 === 0) algebra(s);
  steps += n;
}
const mergeNs = Number(process.hrtime.bigint() - started);

// Baseline: a JSON round trip of a state of comparable size per step.
const state = { records: Object.fromEntries(['sum', 'max', 'greet'].map((id) => [id, {
  drafts: { c: 'x'.repeat(200), cpp: 'y'.repeat(200) }, history: Array.from({ length: 20 }, (_, i) => ({ at: i, code: 'z'.repeat(100) })),
}])) };
const t0 = process.hrtime.bigint();
for (let k = 0; k < steps; k++) JSON.parse(JSON.stringify(state));
const baseNs = Number(process.hrtime.bigint() - t0);

console.log(`runs ${runs} from seed ${seed}: all properties held`);
console.log(`steps ${steps}; merge simulation ${(mergeNs / steps / 1000).toFixed(1)} us/step; `
  + `baseline copy ${(baseNs / steps / 1000).toFixed(1)} us/step; ratio ${(mergeNs / baseNs).toFixed(1)}`);
