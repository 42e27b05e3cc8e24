#include <stdio.h>

int main(void)
{
    /* 在这里写代码：从 n + 1 开始逐个检查是否为回文 */

    return 0;
}
