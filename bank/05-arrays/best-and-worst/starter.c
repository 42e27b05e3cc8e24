#include <stdio.h>

int main(void)
{
    /* 在这里写代码：一边读一边记录最大值、最小值和它们的位置 */

    return 0;
}
