#include <stdio.h>

int main(void)
{
    /* 在这里写代码：注意除以 3 时要用实数 */

    return 0;
}
