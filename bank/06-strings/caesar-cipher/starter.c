#include <stdio.h>

int main(void)
{
    /* 在这里写代码：注意 k 可能为负数，也可能大于 26 */

    return 0;
}
