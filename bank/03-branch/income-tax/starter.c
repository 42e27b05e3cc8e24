#include <stdio.h>

int main(void)
{
    /* 在这里写代码：从最高一档往下，分段累加税额 */

    return 0;
}
