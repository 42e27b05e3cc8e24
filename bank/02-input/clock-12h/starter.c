#include <stdio.h>

int main(void)
{
    /* 在这里写代码：注意 0 点和 12 点 */

    return 0;
}
