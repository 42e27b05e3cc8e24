#include <stdio.h>

int main(void)
{
    /* 在这里写代码：按年龄分段输出票价 */

    return 0;
}
