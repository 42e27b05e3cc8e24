#include <stdio.h>

int main(void)
{
    /* 在这里写代码：按字符逐个分析每条记录 */

    return 0;
}
