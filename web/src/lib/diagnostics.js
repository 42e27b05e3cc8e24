// Compiler messages: where they point in the learner's code, and a short
// Chinese reading of the most common ones.

const LINE = /^(?:.*[\\/])?solution\.(?:c|cpp):(\d+):(?:(\d+):)?\s*(fatal error|error|warning|note)\s*:\s*(.*)$/;

// [{ line, col, severity: 'error'|'warning'|'note', message, raw }] in order.
export function parseDiagnostics(text) {
  const out = [];
  for (const raw of String(text || '').split(/\r?\n/)) {
    const m = LINE.exec(raw);
    if (!m) continue;
    out.push({
      line: Number(m[1]),
      col: m[2] ? Number(m[2]) : 1,
      severity: m[3] === 'fatal error' ? 'error' : m[3],
      message: m[4],
      raw,
    });
  }
  return out;
}

const MISSING_AMP = 'scanf 读入变量时漏写了 &：要写成 scanf("%d", &n)，把变量的地址交给 scanf。';

const HINTS = [
  [/expected (?:'[^']*' or )*';'/, '缺少分号：检查这一行或上一行的末尾。'],
  [/expected '\)'|expected '\('/, '括号不配对：检查小括号。'],
  [/expected '\}'|expected declaration or statement at end of input/, '大括号不配对：检查每个 { 都有对应的 }。'],
  [/was not declared in this scope|undeclared \(first use in this function\)|undeclared/, '使用了没有定义的名字：检查拼写，或是否忘了先声明变量。'],
  [/implicit declaration of function/, '函数在使用前没有声明：检查拼写，或是否缺少 #include（如 stdio.h、string.h、math.h）。'],
  [/stray '\\(?:357|343|342|302)'|stray '\\\d+' in program/, '代码里有中文符号（全角分号、引号或空格）：换成英文半角符号。'],
  [/expects argument of type '([\w ]*\w) ?\*', but argument \d+ has type '\1'/, MISSING_AMP],
  [/expects argument of type 'float ?\*', but argument \d+ has type 'double ?\*'/, 'double 变量要用 %lf 读入：scanf 里的 %f 只配 float。'],
  [/'%l?[dif]' expects argument of type '(?:long )?int', but argument \d+ has type '(?:long )?double'/, '%d 只能输出整数，这个参数却是 double：改用 %f（保留两位小数写 %.2f）。'],
  [/'%l?f' expects argument of type 'double', but argument \d+ has type '(?:long |unsigned |short )*(?:int|char)'/, '%f 要配 double，这个参数却是 int：int 用 %d 输出；要输出小数，先写成 (double)n。'],
  [/return type of 'main' is not 'int'|'::main' must return 'int'/, 'main 函数要写成 int main(void)，最后 return 0;（不能写 void main）。'],
  [/format '%[a-z]*' expects argument of type/, 'printf/scanf 的格式占位符和参数类型不一致（例如 %d 配 double，或 scanf 漏写 &）。'],
  [/too few arguments to function/, '调用函数时参数太少。'],
  [/too many arguments to function/, '调用函数时参数太多。'],
  [/incompatible types|incompatible pointer type/, '类型不匹配：检查赋值两边或函数参数的类型。'],
  [/redefinition of|redeclaration of/, '同一个名字定义了两次。'],
  [/control reaches end of non-void function/, '有返回值的函数在某条路径上没有 return。'],
  [/unused variable/, '定义了却没有使用的变量，可以删除。'],
  [/may be used uninitialized|is used uninitialized/, '变量在赋值前就被使用了：先给它一个初始值。'],
  [/comparison of integer expressions of different signedness/, '有符号数和无符号数比较：注意 strlen 等返回的是无符号类型。'],
  [/suggest parentheses around assignment used as truth value/, '条件里写了 = （赋值），比较相等应写 ==。'],
  [/array subscript .* is above array bounds|array subscript is above array bounds/, '数组下标超出了定义的长度。'],
  [/C\+\+ style comments are not allowed|ISO C90 forbids/, '使用了旧标准不允许的写法。'],
  [/iostream: No such file or directory|'cout' was not declared|'cin' was not declared/, '这是 C++ 的写法：用编辑器上方的语言开关切换到 C++11。'],
  [/No such file or directory/, '找不到要包含的头文件：检查 #include 的名字。'],
  [/undefined reference to `?WinMain|undefined reference to `?main'/, '程序缺少 main 函数。'],
  [/undefined reference to/, '调用的函数没有定义：检查函数名拼写，或是否只声明未实现。'],
  [/lvalue required/, '赋值号左边必须是变量。'],
  [/expected expression/, '这里缺少一个表达式：检查多余的运算符或逗号。'],
];

// GCC quotes with ‘’ in a UTF-8 locale and with '' otherwise.
function plain(message) {
  return String(message).replace(/[\u2018\u2019]/g, "'");
}

const AMP_INDEX = HINTS.findIndex(([, hint]) => hint === MISSING_AMP);

export function hintFor(message) {
  const text = plain(message);
  for (const [pattern, hint] of HINTS) if (pattern.test(text)) return hint;
  return '';
}

const UNINITIALIZED = /may be used uninitialized|is used uninitialized/;

// ---- advice that reads the code around a message --------------------------------

// Library functions a beginner calls most, and the header each needs (C name, C++ name).
const HEADERS = new Map([
  ...['printf', 'scanf', 'puts', 'putchar', 'getchar', 'gets', 'fgets', 'sprintf', 'sscanf', 'fflush', 'fopen', 'fclose', 'fprintf', 'fscanf']
    .map((f) => [f, ['stdio.h', 'cstdio']]),
  ...['strlen', 'strcpy', 'strncpy', 'strcmp', 'strncmp', 'strcat', 'strchr', 'strstr', 'memset', 'memcpy']
    .map((f) => [f, ['string.h', 'cstring']]),
  ...['sqrt', 'pow', 'fabs', 'floor', 'ceil', 'round', 'sin', 'cos', 'tan', 'log', 'log10', 'exp']
    .map((f) => [f, ['math.h', 'cmath']]),
  ...['malloc', 'calloc', 'realloc', 'free', 'exit', 'abs', 'qsort', 'rand', 'srand', 'atoi', 'atof']
    .map((f) => [f, ['stdlib.h', 'cstdlib']]),
  ...['isdigit', 'isalpha', 'isspace', 'isupper', 'islower', 'toupper', 'tolower', 'isalnum']
    .map((f) => [f, ['ctype.h', 'cctype']]),
]);

const SEMICOLON = /^expected (?:(?:'[^']*'|identifier|declaration specifiers),? (?:or )?)*';'(?:,? (?:identifier|'[^']*')(?: or '[^']*')*)? before|^expected initializer before/;
const UNDECLARED = /^'(\w+)' (?:undeclared|was not declared in this scope)/;
const TYPES = 'int|char|short|long|float|double|unsigned|signed|bool|_Bool|size_t|string|auto|const|static|struct\\s+\\w+';

function lines(code) {
  return String(code || '').split(/\r?\n/);
}

// 1-based number of the last line before `line` that holds more than blanks and comments.
function previousCodeLine(all, line) {
  for (let k = line - 1; k >= 1; k--) {
    const t = (all[k - 1] || '').replace(/\/\/.*$/, '').trim();
    if (t && !/^\/?\*/.test(t)) return k;
  }
  return 0;
}

// Where a semicolon is missing for a message "expected ';' before X": a message at the
// first word of its line means the line above ends without one; GCC points either there
// or at the end of the line itself.
function semicolonPlace(d, all) {
  const text = all[d.line - 1];
  if (text === undefined) return null;
  const indent = text.length - text.trimStart().length;
  if (d.col <= indent + 1) {
    const k = previousCodeLine(all, d.line);
    return k ? { line: k, col: all[k - 1].replace(/\s+$/, '').length + 1, end: true } : null;
  }
  const rest = text.slice(d.col - 1).trim();
  return { line: d.line, col: d.col, end: rest === '' || rest.startsWith('//') };
}

// The lines where `name` is defined in the code (a type word in front of it).
function definitions(all, name) {
  const def = new RegExp(`\\b(?:${TYPES})\\b[^;(){}=]*?[\\s*,]${name}\\s*(?:[=;,\\[)]|$)`);
  const out = [];
  all.forEach((t, k) => { if (def.test(t.replace(/\/\/.*$/, ''))) out.push(k + 1); });
  return out;
}

function headerHint(name, lang) {
  const h = HEADERS.get(name);
  if (!h) return '';
  return lang === 'cpp' ? `用 ${name} 要先包含它的头文件：在开头加上 #include <${h[1]}>（或 <${h[0]}>）。`
    : `用 ${name} 要先包含它的头文件：在开头加上 #include <${h[0]}>。`;
}

// Rules that need the code or the other messages; each returns advice or ''.
// ctx: { all: code lines, lang, semicolon: the place of the first missing semicolon or null }.
const RULES = [
  {
    id: 'semicolon',
    test: (m) => SEMICOLON.test(m),
    advise(d, ctx) {
      const at = semicolonPlace(d, ctx.all);
      if (!at) return '';
      if (at.end) return { hint: `第 ${at.line} 行末尾可能少了分号（;）。`, line: at.line, col: at.col };
      return { hint: `第 ${at.line} 行第 ${at.col} 列前面可能少了分号（;）。`, line: at.line, col: at.col };
    },
  },
  {
    // A declaration left without its semicolon makes the next line look like a function inside a function.
    id: 'nested-function',
    test: (m) => /ISO C forbids nested functions|a function-definition is not allowed here/.test(m),
    advise(d, ctx) {
      if (ctx.semicolon && ctx.semicolon.line === d.line) return { hint: ctx.semicolon.hint, line: ctx.semicolon.line, col: ctx.semicolon.col };
      return '函数不能写在另一个函数里面：检查上面的函数是不是少了一个 }。';
    },
  },
  {
    id: 'bool-in-c',
    test: (m, ctx) => ctx.lang === 'c' && /^unknown type name 'bool'|^'(?:true|false)' undeclared/.test(m),
    advise: () => 'C 语言里要用 bool、true、false，先在开头加上 #include <stdbool.h>（或者用 int 的 1 和 0）。',
  },
  {
    id: 'undeclared',
    test: (m) => UNDECLARED.test(m),
    advise(d, ctx) {
      const m = plain(d.message);
      const name = UNDECLARED.exec(m)[1];
      if (ctx.semicolon && ctx.semicolon.line < d.line && definitions(ctx.all, name).some((k) => k <= ctx.semicolon.line + 1)) {
        return `${name} 的定义因为第 ${ctx.semicolon.line} 行少了分号没有完成：先补上分号，这条错误会跟着消失。`;
      }
      const guess = /did you mean '(\w+)'/.exec(m);
      if (guess) return `名字写错了：没有叫 ${name} 的变量或函数，是不是想写 ${guess[1]}？`;
      const header = headerHint(name, ctx.lang);
      if (header) return header;
      if (ctx.lang === 'cpp' && /^(?:cout|cin|endl|string)$/.test(name)) return `${name} 在 std 里：写成 std::${name}，或在 #include 后面加一行 using namespace std;。`;
      const defs = definitions(ctx.all, name).filter((k) => k !== d.line);
      if (defs.length) {
        return `${name} 在第 ${defs.join('、')} 行定义过，但那个定义只在它所在的 { } 里有效（作用域），到第 ${d.line} 行已经不能用了。`
          + '把定义移到外层（用到它的地方之前、同一对 { } 里或更外面）。';
      }
      return '';
    },
  },
  {
    id: 'implicit-function',
    test: (m) => /^implicit declaration of function '(\w+)'/.test(m),
    advise: (d, ctx) => headerHint(/'(\w+)'/.exec(plain(d.message))[1], ctx.lang),
  },
  {
    id: 'extra-brace',
    test: (m) => /^expected identifier or '\(' before '\}' token|^expected declaration before '\}' token/.test(m),
    advise: (d) => `第 ${d.line} 行的 } 多了：它前面的函数已经结束了，没有对应的 {。检查上面每个 { 和 } 是否一一配对。`,
  },
  {
    id: 'missing-brace',
    test: (m) => /^expected declaration or statement at end of input|^expected '\}' at end of input/.test(m),
    advise: () => '少了 }：到代码末尾还有 { 没有关上。从 main 开始数一数 { 和 }，在缺的地方补上。',
  },
  {
    id: 'else-without-if',
    test: (m) => /^'else' without a previous 'if'/.test(m),
    advise: () => 'else 前面没有能配对的 if：检查 if (…) 后面是不是多写了分号，或者 if 管的几条语句没有用 { } 括起来。',
  },
];

// Advice for a whole list of messages: [{ hint, line, col }] in the same order, where line
// and col say where the mistake most likely is (for a missing semicolon, the line that
// lacks it, not the next one GCC names). A message can change what another one means.
// code: the compiled source; lang: 'c' | 'cpp'.
export function adviceFor(diags, code = '', lang = 'c') {
  const ctx = { all: lines(code), lang: lang === 'cpp' ? 'cpp' : 'c', semicolon: null };
  for (const d of diags) {
    if (d.severity === 'note' || !SEMICOLON.test(plain(d.message))) continue;
    const at = semicolonPlace(d, ctx.all);
    if (at) { ctx.semicolon = { ...at, hint: RULES[0].advise(d, ctx).hint }; break; }
  }
  const missingAmp = diags.some((d) => HINTS[AMP_INDEX][0].test(plain(d.message)));
  return diags.map((d) => {
    const m = plain(d.message);
    const place = { line: d.line, col: d.col };
    if (missingAmp && UNINITIALIZED.test(m)) return { ...place, hint: '变量没有读入值就被使用了：多半是 scanf 漏写了 &（应写 scanf("%d", &n)）。' };
    for (const rule of RULES) {
      if (!rule.test(m, ctx)) continue;
      const a = rule.advise(d, ctx);
      if (typeof a === 'string' && a) return { ...place, hint: a };
      if (a && a.hint) return { line: a.line, col: a.col, hint: a.hint };
    }
    return { ...place, hint: hintFor(m) };
  });
}

// Hints only (see adviceFor).
export function hintsFor(diags, code = '', lang = 'c') {
  return adviceFor(diags, code, lang).map((a) => a.hint);
}
