// A small bank whose cases the tests know by heart.

function question(id, topic, stars, title, reference, cases, extra = {}) {
  return {
    id, topic, stars, compare: 'tokens', title,
    scenario: `${title}：小明在练习。`, task: '按要求完成程序。', input: '见样例。', output: '见样例。',
    constraints: '数值不超过 1000。',
    starter: '#include <stdio.h>\n\nint main(void)\n{\n    /* 在这里写代码 */\n    return 0;\n}\n',
    reference,
    samples: cases.slice(0, 1).map(([input, output]) => ({ input, output })),
    tests: cases.map(([input, output]) => ({ input, output })),
    ...extra,
  };
}

export const SUM_REFERENCE = '#include <stdio.h>\n\nint main(void)\n{\n    int a, b;\n    if (scanf("%d %d", &a, &b) != 2) return 1;\n    printf("%d\\n", a + b);\n    return 0;\n}\n';
export const MAX_REFERENCE = '#include <iostream>\nint main() {\n    int a, b;\n    std::cin >> a >> b;\n    std::cout << (a > b ? a : b) << "\\n";\n}\n';
export const GREET_REFERENCE = '#include <stdio.h>\n\nint main(void)\n{\n    printf("Yes\\nDone\\n");\n    return 0;\n}\n';

export function smallBank(title = '测试题库') {
  return {
    version: 1, title, revision: 'e2e-1',
    questions: [
      question('sum', 2, 1, '两数相加', SUM_REFERENCE, [['1 2\n', '3\n'], ['5 6\n', '11\n'], ['-4 4\n', '0\n'], ['100 200\n', '300\n']]),
      question('max2', 3, 2, '较大的数', MAX_REFERENCE, [['1 2\n', '2\n'], ['9 3\n', '9\n'], ['-1 -7\n', '-1\n']], { lang: 'cpp' }),
      question('greet', 1, 1, '回答是', GREET_REFERENCE, [['', 'Yes\nDone\n'], ['', 'Yes\nDone\n'], ['', 'Yes\nDone\n']]),
    ],
  };
}

// Questions for the verdict screens: a long output, English text, a fraction.
export const COUNT_REFERENCE = '#include <stdio.h>\nint main(void)\n{\n    int n, i;\n    if (scanf("%d", &n) != 1) return 1;\n    for (i = 1; i <= n; i++) printf("%d\\n", i);\n    return 0;\n}\n';
export const HELLO_REFERENCE = '#include <stdio.h>\nint main(void)\n{\n    printf("Hello, World!\\n");\n    return 0;\n}\n';
export const AVG_REFERENCE = '#include <stdio.h>\nint main(void)\n{\n    int a, b;\n    if (scanf("%d %d", &a, &b) != 2) return 1;\n    printf("%.2f\\n", (a + b) / 2.0);\n    return 0;\n}\n';

export function verdictBank() {
  const bank = smallBank('评测结果题库');
  const upTo = (n) => Array.from({ length: n }, (_, i) => `${i + 1}\n`).join('');
  bank.questions.push(
    question('count', 4, 2, '从 1 数到 n', COUNT_REFERENCE, [['60\n', upTo(60)], ['3\n', upTo(3)], ['70\n', upTo(70)]]),
    question('hello', 1, 1, '问候', HELLO_REFERENCE, [['', 'Hello, World!\n'], ['', 'Hello, World!\n'], ['', 'Hello, World!\n']]),
    question('avg', 2, 2, '平均数', AVG_REFERENCE, [['2 3\n', '2.50\n'], ['4 4\n', '4.00\n'], ['1 2\n', '1.50\n']]),
  );
  return bank;
}

// Questions for the feedback screens: a sample whose one line is long, and a first start
// where the bank opens with a C++ exercise of topic 1.
export function feedbackBank() {
  const bank = verdictBank();
  const wide = Array.from({ length: 30 }, (_, i) => (i + 1).toFixed(6)).join(' ') + '\n';
  bank.questions.push(question('wide', 5, 1, '一行小数', '#include <stdio.h>\nint main(void)\n{\n    int i;\n    for (i = 1; i <= 30; i++) printf(i < 30 ? "%f " : "%f\\n", (double)i);\n    return 0;\n}\n',
    [['', wide], ['', wide], ['', wide]]));
  return bank;
}

export function firstStartBank() {
  const bank = smallBank('起步题库');
  const cpp = bank.questions.find((q) => q.id === 'max2');
  cpp.topic = 1;
  bank.questions = [cpp, bank.questions.find((q) => q.id === 'sum'), bank.questions.find((q) => q.id === 'greet')];
  return bank;
}
