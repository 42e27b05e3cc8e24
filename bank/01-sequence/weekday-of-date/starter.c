#include <stdio.h>

int main(void)
{
    /* 在这里写代码：照公式一步步计算 */

    return 0;
}
