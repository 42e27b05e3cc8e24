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
  [/expects argument of type '([\w ]+) \*', but argument \d+ has type '\1'/, MISSING_AMP],
  [/expects argument of type 'float \*', but argument \d+ has type 'double \*'/, 'double 变量要用 %lf 读入：scanf 里的 %f 只配 float。'],
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

// Hints for a whole list of messages: a message can change what another one
// means. A variable "used uninitialized" right after scanf was handed the
// variable itself (no &) was never read in; giving it a start value would
// hide the real mistake.
export function hintsFor(diags) {
  const missingAmp = diags.some((d) => HINTS[AMP_INDEX][0].test(plain(d.message)));
  return diags.map((d) => {
    if (missingAmp && UNINITIALIZED.test(plain(d.message))) return '变量没有读入值就被使用了：多半是 scanf 漏写了 &（应写 scanf("%d", &n)）。';
    return hintFor(d.message);
  });
}
