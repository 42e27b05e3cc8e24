// Plain words for a program's exit code, for both platforms: Windows reports a
// crash as an NTSTATUS value (3221225477 = 0xC0000005), Linux as 128 + signal.

const WINDOWS = new Map([
  [0xC0000005, ['访问违规（0xC0000005）', '程序读写了不属于它的内存：数组越界、空指针或野指针、scanf 漏写 &。']],
  [0xC00000FD, ['栈溢出（0xC00000FD）', '递归太深没有停下，或在函数里定义了过大的局部数组（改为全局或 malloc）。']],
  [0xC0000094, ['整数除以 0（0xC0000094）', '检查除法和取余（/、%）的除数是否可能为 0。']],
  [0xC0000095, ['整数溢出（0xC0000095）', '某个整数运算超出了范围，例如 INT_MIN / -1。']],
  [0xC000008E, ['浮点数除以 0（0xC000008E）', '检查浮点除法的除数。']],
  [0xC000001D, ['非法指令（0xC000001D）', '程序执行到了无效的代码，常见于函数缺少 return 或内存被破坏。']],
  [0xC0000409, ['缓冲区被破坏（0xC0000409）', '数组或字符串写出了边界，破坏了栈上的数据。']],
  [0xC0000374, ['堆被破坏（0xC0000374）', 'malloc 得到的内存写越界，或同一块内存 free 了两次。']],
  [0xC0000017, ['内存不足（0xC0000017）', '申请的内存超过了限制（128 MB）。']],
  [0xC0000135, ['缺少运行库（0xC0000135）', '程序需要的 DLL 找不到，请重新安装本程序。']],
  [0xC000013A, ['被中断（0xC000013A）', '程序被外部停止。']],
]);

const SIGNALS = new Map([
  [4, ['SIGILL 非法指令', '程序执行到了无效的代码，常见于函数缺少 return 或内存被破坏。']],
  [6, ['SIGABRT 主动中止', 'abort() 或 assert 失败，也可能是 free 了无效指针、堆被破坏。']],
  [7, ['SIGBUS 总线错误', '访问了无效的内存地址。']],
  [8, ['SIGFPE 算术错误', '整数除以 0 或取余 0，或 INT_MIN / -1 溢出。']],
  [9, ['SIGKILL 被强制结束', '程序被系统结束，常见原因是内存超过 128 MB 或运行超时。']],
  [11, ['SIGSEGV 段错误', '程序读写了不属于它的内存：数组越界、空指针或野指针、scanf 漏写 &、递归过深，或在函数里定义了过大的局部数组（改为全局或 malloc）。']],
  [24, ['SIGXCPU 超过 CPU 时间', '程序计算时间太长，检查循环的结束条件。']],
  [25, ['SIGXFSZ 输出过多', '输出超过了允许的大小，检查是否有死循环在打印。']],
  [31, ['SIGSYS 被禁止的系统调用', '程序尝试了评测中不允许的操作（例如创建新进程）。']],
]);

// The cause in a few words, for the verdict's headline.
const SHORT = new Map([
  [0xC0000005, '内存访问越界'], [0xC00000FD, '栈溢出'], [0xC0000094, '整数除以 0'], [0xC0000095, '整数溢出'],
  [0xC000008E, '浮点数除以 0'], [0xC000001D, '非法指令'], [0xC0000409, '缓冲区被破坏'], [0xC0000374, '堆被破坏'],
  [0xC0000017, '内存不足'], [0xC0000135, '缺少运行库'], [0xC000013A, '被中断'],
  [128 + 4, '非法指令'], [128 + 6, '主动中止'], [128 + 7, '内存访问出错'], [128 + 8, '整数除以 0'], [128 + 9, '被强制结束'],
  [128 + 11, '内存访问越界'], [128 + 24, '超过 CPU 时间'], [128 + 25, '输出过多'], [128 + 31, '被禁止的操作'],
]);

// Exit codes that mean the program crashed on memory: a huge local array is one cause.
export const STACK_CRASHES = new Set([0xC0000005, 0xC00000FD, 128 + 11, 128 + 7]);

// { title, detail, short } for a non-zero exit code.
export function explainExit(code) {
  if (typeof code !== 'number' || !Number.isFinite(code) || code === 0) return null;
  const short = SHORT.get(code) || (code >= 0xC0000000 ? '程序异常' : code === 3 ? '异常中止' : `返回了 ${code}`);
  const windows = WINDOWS.get(code);
  if (windows) return { title: windows[0], detail: windows[1], short };
  if (code > 128 && code <= 128 + 64) {
    const signal = SIGNALS.get(code - 128);
    if (signal) return { title: `${signal[0]}（${code} = 128 + ${code - 128}）`, detail: signal[1], short };
  }
  if (code >= 0xC0000000) {
    return { title: `系统异常 0x${code.toString(16).toUpperCase()}`, detail: '程序因异常被系统结束，先检查数组下标、指针和递归。', short };
  }
  if (code === 3) return { title: '异常中止（3）', detail: 'Windows 上 abort() 或 assert 失败时退出码为 3。', short };
  return { title: `退出码 ${code}`, detail: `main 函数返回了 ${code}（或调用了 exit(${code})）。正常结束时应返回 0。`, short };
}
