#include <stdio.h>

int main(void)
{
    /* 在这里写代码：scanf 的格式串里可以写上短横线 */

    return 0;
}
