#include <stdio.h>

int main(void)
{
    /* 在这里写代码：用 while 循环模拟，直到 n 变成 1 */

    return 0;
}
