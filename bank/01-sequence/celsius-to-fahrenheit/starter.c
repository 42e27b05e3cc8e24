#include <stdio.h>

int main(void)
{
    /* 在这里写代码：注意用实数计算，9 / 5 在整数里等于 1 */

    return 0;
}
