// The Chinese advice for compiler messages, as a table of first-course mistakes
// compiled by the real GCC with the judge's options, in C and in C++.
//
// The compilers come from TAVRIN_ADVICE_CC / TAVRIN_ADVICE_CXX (a command line,
// split at blanks, e.g. "wine build/windows/app/mingw/bin/gcc.exe"), gcc and g++ by
// default: the Windows lane runs the same table with the Windows-hosted GCC that way.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, writeFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { parseDiagnostics, adviceFor } from '../../web/src/lib/diagnostics.js';

const LANES = {
  c: { cmd: (process.env.TAVRIN_ADVICE_CC || 'gcc').split(/\s+/), file: 'solution.c',
    flags: ['-std=c99', '-Wall', '-Wextra', '-Wshadow', '-Wformat=2', '-pedantic-errors', '-O0', '-fsyntax-only'] },
  cpp: { cmd: (process.env.TAVRIN_ADVICE_CXX || 'g++').split(/\s+/), file: 'solution.cpp',
    flags: ['-std=c++11', '-Wall', '-Wextra', '-Wshadow', '-Wformat=2', '-pedantic-errors', '-O0', '-fsyntax-only'] },
};

const C = '#include <stdio.h>\n';
const CPP = '#include <cstdio>\n';
const MAIN = { c: 'int main(void)\n{\n', cpp: 'int main()\n{\n' };
// body: the lines after "{" (line 4 on); the code is header + main + body.
const program = (lang, body, head = lang === 'c' ? C : CPP) => head + MAIN[lang] + body;

// name, lanes, body (or whole code via `code`), the line the first message's advice points
// at, the advice it must give, and what it must not say.
const cases = [
  { name: 'missing semicolon before a statement', lanes: ['c', 'cpp'], body: '    printf("hi")\n    return 0;\n}\n', line: 4, hint: /第 4 行末尾可能少了分号/ },
  { name: 'missing semicolon after a declaration', lanes: ['c', 'cpp'], body: '    int a = 1\n    int b = 2;\n    printf("%d", a + b);\n    return 0;\n}\n', line: 4, hint: /第 4 行末尾可能少了分号/ },
  { name: 'missing semicolon, declaration without a value', lanes: ['c', 'cpp'], body: '    int a\n    a = 1;\n    return a;\n}\n', line: 4, hint: /第 4 行末尾可能少了分号/ },
  { name: 'missing semicolon with a blank line between', lanes: ['c'], body: '    int n;\n    scanf("%d", &n)\n\n    printf("%d", n);\n    return 0;\n}\n', line: 5, hint: /第 5 行末尾可能少了分号/ },
  { name: 'missing semicolon after a global', lanes: ['c', 'cpp'], code: (l) => (l === 'c' ? C : CPP) + 'int n\n' + MAIN[l] + '    return n;\n}\n', line: 2, hint: /第 2 行末尾可能少了分号/ },
  { name: 'missing semicolon inside for', lanes: ['c', 'cpp'], body: '    int i;\n    for (i = 0; i < 3 i++) {}\n    return 0;\n}\n', line: 5, hint: /第 5 行第 \d+ 列前面可能少了分号/ },
  { name: 'name used outside the braces that define it', lanes: ['c', 'cpp'], body: '    for (int i = 0; i < 3; i++) {\n        int sum = i;\n    }\n    printf("%d", sum);\n    return 0;\n}\n', line: 7, hint: /sum 在第 5 行定义过.*作用域/, not: /忘了/ },
  { name: 'misspelt name', lanes: ['c', 'cpp'], body: '    int count = 0;\n    printf("%d", cuont);\n    return 0;\n}\n', line: 5, hint: /是不是想写 count/, not: /忘了/ },
  { name: 'name never defined', lanes: ['c'], body: '    x = 3;\n    return 0;\n}\n', line: 4, hint: /没有定义的名字/ },
  { name: 'bool without stdbool.h', lanes: ['c'], body: '    bool ok = true;\n    return ok ? 0 : 1;\n}\n', line: 4, hint: /stdbool\.h/ },
  { name: 'an extra closing brace', lanes: ['c', 'cpp'], body: '    return 0;\n}\n}\n', line: 6, hint: /} 多了/ },
  { name: 'a missing closing brace', lanes: ['c', 'cpp'], body: '    if (1) {\n    return 0;\n}\n', hint: /少了 }/ },
  { name: 'else after an if with a semicolon', lanes: ['c', 'cpp'], body: '    int a = 1;\n    if (a > 0);\n    {\n        a = 2;\n    }\n    else\n        a = 3;\n    return a;\n}\n', line: 9, hint: /else 前面没有能配对的 if/ },
  { name: 'assignment in a condition', lanes: ['c', 'cpp'], body: '    int a = 1;\n    if (a = 2)\n        return 1;\n    return 0;\n}\n', line: 5, hint: /==/ },
  { name: '%d given a double', lanes: ['c', 'cpp'], body: '    double x = 1.5;\n    printf("%d\\n", x);\n    return 0;\n}\n', line: 5, hint: /%d 只能输出整数.*double/ },
  { name: 'printf without stdio.h', lanes: ['c'], code: (l) => MAIN[l] + '    printf("hi\\n");\n    return 0;\n}\n', line: 3, hint: /#include <stdio\.h>/ },
  { name: 'printf without cstdio', lanes: ['cpp'], code: (l) => MAIN[l] + '    printf("hi\\n");\n    return 0;\n}\n', line: 3, hint: /#include <cstdio>/ },
  { name: 'strlen without string.h', lanes: ['c', 'cpp'], body: '    char s[10] = "abc";\n    printf("%d", (int)strlen(s));\n    return 0;\n}\n', line: 5, hint: /#include <(?:string\.h|cstring)>/ },
  { name: 'sqrt without math.h', lanes: ['c', 'cpp'], body: '    double x = sqrt(2.0);\n    printf("%f", x);\n    return 0;\n}\n', line: 4, hint: /#include <(?:math\.h|cmath)>/ },
  { name: 'scanf without &', lanes: ['c', 'cpp'], body: '    int n;\n    scanf("%d", n);\n    printf("%d", n);\n    return 0;\n}\n', line: 5, hint: /漏写了 &/ },
];

function compile(lang, code) {
  const lane = LANES[lang];
  const dir = mkdtempSync(join(tmpdir(), 'tavrin-advice-'));
  try {
    writeFileSync(join(dir, lane.file), code);
    const r = spawnSync(lane.cmd[0], [...lane.cmd.slice(1), ...lane.flags, lane.file], {
      cwd: dir, encoding: 'utf8', env: { ...process.env, LC_ALL: 'C.UTF-8', LANGUAGE: '' }, timeout: 120000 });
    assert.equal(r.error, undefined, `${lane.cmd.join(' ')} did not run`);
    return r.stderr;
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

for (const lang of ['c', 'cpp']) {
  test(`advice for the usual first-course mistakes (${lang === 'c' ? 'C' : 'C++'}, real compiler)`, () => {
    for (const c of cases.filter((x) => x.lanes.includes(lang))) {
      const code = c.code ? c.code(lang) : program(lang, c.body);
      const text = compile(lang, code);
      const diags = parseDiagnostics(text).filter((d) => d.severity !== 'note');
      const advice = adviceFor(diags, code, lang);
      // The message the learner reads first: the first error, or the first warning when none.
      const errors = diags.some((d) => d.severity === 'error');
      const k = errors ? diags.findIndex((d) => d.severity === 'error') : advice.findIndex((a) => c.hint.test(a.hint));
      const where = `${c.name} [${lang}]\n${text}`;
      assert.ok(k >= 0, `no message gave the advice: ${where}`);
      assert.match(advice[k].hint, c.hint, where);
      if (c.line) assert.equal(advice[k].line, c.line, where);
      if (c.not) for (const a of advice) assert.doesNotMatch(a.hint, c.not, where);
    }
  });
}
