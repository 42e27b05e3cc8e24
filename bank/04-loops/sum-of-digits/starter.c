#include <stdio.h>

int main(void)
{
    /* 在这里写代码：用循环逐位取出数字并累加 */

    return 0;
}
