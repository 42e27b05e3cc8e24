#include <stdio.h>

int main(void)
{
    /* 在这里写代码：先求总和，再数一遍 */

    return 0;
}
