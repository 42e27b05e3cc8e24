#include <stdio.h>

int main(void)
{
    /* 在这里写代码：用两层循环 */

    return 0;
}
