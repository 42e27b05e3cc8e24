#include <stdio.h>

int main(void)
{
    /* 在这里写代码：先写求最大公约数和约分的函数 */

    return 0;
}
