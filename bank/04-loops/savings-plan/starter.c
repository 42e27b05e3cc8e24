#include <stdio.h>

int main(void)
{
    /* 在这里写代码：每个月先存入，再计息 */

    return 0;
}
