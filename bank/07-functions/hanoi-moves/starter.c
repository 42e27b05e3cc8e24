#include <stdio.h>

int main(void)
{
    /* 在这里写代码：写递归函数 hanoi(n, from, via, to) */

    return 0;
}
