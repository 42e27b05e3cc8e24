#include <stdio.h>

int main(void)
{
    /* 在这里写代码：用 while 循环读到输入结束 */

    return 0;
}
