#include <stdio.h>

int main(void)
{
    /* 在这里写代码：写函数 ways(n) 求走法数 */

    return 0;
}
