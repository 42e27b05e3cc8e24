#include <stdio.h>

int main(void)
{
    /* 在这里写代码：用整除和取余算出时、分、秒 */

    return 0;
}
