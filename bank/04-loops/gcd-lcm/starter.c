#include <stdio.h>

int main(void)
{
    /* 在这里写代码：用辗转相除法求最大公约数，再求最小公倍数 */

    return 0;
}
