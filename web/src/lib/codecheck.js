// Quick looks at the learner's source for the mistakes beginners make most:
// Chinese punctuation typed into code, huge arrays on the stack, void main.
// These are plain scans, not a parser; they only ever suggest.

export const FULL_TO_HALF = {
  '，': ',', '。': '.', '；': ';', '：': ':', '（': '(', '）': ')', '！': '!', '？': '?',
  '“': '"', '”': '"', '‘': "'", '’': "'", '【': '[', '】': ']', '｛': '{', '｝': '}',
  '《': '<', '》': '>', '＝': '=', '＋': '+', '－': '-', '＊': '*', '／': '/', '％': '%',
  '＆': '&', '｜': '|', '＜': '<', '＞': '>', '＃': '#', '　': ' ', '、': ',',
};
const FULL_WIDTH = new RegExp(`[${Object.keys(FULL_TO_HALF).join('')}]`);

// Walks the code and calls visit(index, char) for every character that is in
// code proper: not inside a comment, a string or a character literal.
function eachCodeChar(code, visit) {
  let state = 'code';
  for (let i = 0; i < code.length; i++) {
    const c = code[i];
    const next = code[i + 1];
    if (state === 'code') {
      if (c === '/' && next === '*') { state = 'block'; i++; }
      else if (c === '/' && next === '/') { state = 'line'; i++; }
      else if (c === '"') state = 'dq';
      else if (c === "'") state = 'sq';
      else visit(i, c);
    } else if (state === 'block') {
      if (c === '*' && next === '/') { state = 'code'; i++; }
    } else if (state === 'line') {
      if (c === '\n') state = 'code';
    } else {
      if (c === '\\') i++;
      else if ((state === 'dq' && c === '"') || (state === 'sq' && c === "'")) state = 'code';
      else if (c === '\n') state = 'code'; // an unclosed literal ends at the line for our purposes
    }
  }
}

// Full-width punctuation outside strings and comments:
// [{ from, to, char, replacement }], offsets in UTF-16 units.
export function fullWidthInCode(code) {
  const found = [];
  eachCodeChar(String(code || ''), (i, c) => {
    if (FULL_WIDTH.test(c)) found.push({ from: i, to: i + 1, char: c, replacement: FULL_TO_HALF[c] });
  });
  return found;
}

// The same text with code blanked except what is in code proper; comments and
// literals become blanks (line breaks kept).
export function codeOnly(code) {
  const text = String(code || '');
  const out = text.replace(/[^\n]/g, ' ').split('');
  eachCodeChar(text, (i, c) => { out[i] = c; });
  return out.join('');
}

const SIZES = { char: 1, short: 2, int: 4, unsigned: 4, long: 8, float: 4, double: 8, 'long long': 8, 'long double': 16, bool: 1, _Bool: 1 };

// Arrays declared inside a function body whose size is a literal of at least
// `limit` bytes: [{ name, type, count, bytes, line }].
export function bigLocalArrays(code, limit = 1 << 20) {
  const text = codeOnly(code);
  const found = [];
  let depth = 0;
  let line = 1;
  const decl = /\b((?:unsigned\s+|signed\s+|static\s+|const\s+)*(long\s+long|long\s+double|char|short|int|unsigned|long|float|double|bool|_Bool))\s+([A-Za-z_]\w*)\s*((?:\[\s*[0-9][0-9eE+*\s]*\]\s*)+)/y;
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (c === '\n') { line++; continue; }
    if (c === '{') { depth++; continue; }
    if (c === '}') { depth = Math.max(0, depth - 1); continue; }
    if (depth === 0 || !/[a-z_]/.test(c) || (i > 0 && /\w/.test(text[i - 1]))) continue;
    decl.lastIndex = i;
    const m = decl.exec(text);
    if (!m) continue;
    // static arrays do not live on the stack
    if (/\bstatic\b/.test(m[1]) || /\bstatic\s+(?:const\s+)?$/.test(text.slice(Math.max(0, i - 24), i))) continue;
    const base = m[2].replace(/\s+/g, ' ');
    const dims = [...m[4].matchAll(/\[([^\]]*)\]/g)].map((d) => evalSize(d[1]));
    if (dims.some((d) => !(d > 0))) continue;
    const count = dims.reduce((p, d) => p * d, 1);
    const bytes = count * (SIZES[base] || 4);
    if (bytes >= limit) found.push({ name: m[3], type: base, count, bytes, line });
  }
  return found;
}

function evalSize(expr) {
  const parts = expr.split('*').map((p) => p.trim());
  let value = 1;
  for (const p of parts) {
    if (!/^\d+(?:[eE]\d+)?$/.test(p)) return NaN;
    value *= Number(p);
  }
  return value;
}

export function megabytes(bytes) {
  return (bytes / (1 << 20)).toFixed(1).replace(/\.0$/, '');
}

// The code writes to standard output somewhere (printf, puts, cout ...).
export function writesOutput(code) {
  return /\b(?:printf|puts|putchar|fputs|fprintf|fwrite|putc|fputc|cout)\b/.test(codeOnly(code));
}

export function hasVoidMain(code) {
  return /\bvoid\s+main\s*\(/.test(codeOnly(code));
}

export function hasLoop(code) {
  return /\b(for|while)\s*\(|\bdo\s*\{/.test(codeOnly(code));
}
