#include <stdio.h>

int main(void)
{
    /* 在这里写代码：用 for 循环从 n 数到 1 */

    return 0;
}
