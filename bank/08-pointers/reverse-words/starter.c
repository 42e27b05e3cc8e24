#include <stdio.h>

int main(void)
{
    /* 在这里写代码：用指针找出每个单词的起点，存进指针数组 */

    return 0;
}
