#include <stdio.h>

int main(void)
{
    /* 在这里写代码：用整除和取余拆出元和分 */

    return 0;
}
