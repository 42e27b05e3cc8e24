#include <stdio.h>

int main(void)
{
    /* 在这里写代码：先把数存进数组，再倒着输出 */

    return 0;
}
