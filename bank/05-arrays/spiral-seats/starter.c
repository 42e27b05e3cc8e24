#include <stdio.h>

int main(void)
{
    /* 在这里写代码：用四个边界控制“右、下、左、上”四个方向 */

    return 0;
}
