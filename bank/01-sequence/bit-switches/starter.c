#include <stdio.h>

int main(void)
{
    /* 在这里写代码：读入 state 和 k，用位运算算出四个结果 */

    return 0;
}
