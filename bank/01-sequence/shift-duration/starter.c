#include <stdio.h>

int main(void)
{
    /* 在这里写代码：先都换算成从 0 点起的分钟数 */

    return 0;
}
