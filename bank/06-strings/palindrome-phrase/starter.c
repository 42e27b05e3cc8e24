#include <stdio.h>

int main(void)
{
    /* 在这里写代码：先只保留字母并转成小写，再首尾比较 */

    return 0;
}
