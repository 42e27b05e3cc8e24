// The question bank as the page uses it.

export const TOPICS = [
  [1, '顺序结构与输出'], [2, '输入与格式'], [3, '分支'], [4, '循环'], [5, '数组'],
  [6, '字符串'], [7, '函数与递归'], [8, '指针与内存'], [9, '结构体与综合'],
];
export const TOPIC_NAME = new Map(TOPICS);

export function questionLang(q) {
  return q && q.lang === 'cpp' ? 'cpp' : 'c';
}

// What the judge decides by: the tests and the way outputs are compared. A
// pass mark is only worth keeping while this stays the same.
export function judgingBasis(q) {
  const tests = Array.isArray(q.tests) ? q.tests.map((t) => [t && t.input, t && t.output]) : null;
  return fnv1a(JSON.stringify([typeof q.compare === 'string' ? q.compare : null, tests]));
}

function fnv1a(text) {
  let h = 0x811c9dc5;
  for (let i = 0; i < text.length; i++) {
    h ^= text.charCodeAt(i);
    h = Math.imul(h, 0x01000193) >>> 0;
  }
  return h.toString(16).padStart(8, '0');
}

export function bankQuestions(bank) {
  return bank && Array.isArray(bank.questions)
    ? bank.questions.filter((q) => q && typeof q === 'object' && typeof q.id === 'string')
    : [];
}

// What a new bank would change, by question id: added, changed (any field),
// removed, and the passed questions whose judging basis changes or that go.
export function bankChanges(oldQuestions, newQuestions, isPassed) {
  const before = new Map(oldQuestions.map((q) => [q.id, q]));
  const after = new Map(newQuestions.map((q) => [q.id, q]));
  const added = newQuestions.filter((q) => !before.has(q.id));
  const removed = oldQuestions.filter((q) => !after.has(q.id));
  const changed = newQuestions.filter((q) => before.has(q.id) && JSON.stringify(before.get(q.id)) !== JSON.stringify(q));
  const losing = oldQuestions.filter((q) => isPassed(q.id)
    && (!after.has(q.id) || judgingBasis(after.get(q.id)) !== judgingBasis(q)));
  return { added, changed, removed, losing };
}
