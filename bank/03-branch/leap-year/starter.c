#include <stdio.h>

int main(void)
{
    /* 在这里写代码：按闰年规则判断 */

    return 0;
}
