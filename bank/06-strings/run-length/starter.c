#include <stdio.h>

int main(void)
{
    /* 在这里写代码：找出每一段连续相同字母的长度 */

    return 0;
}
