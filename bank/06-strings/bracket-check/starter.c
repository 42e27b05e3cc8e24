#include <stdio.h>

int main(void)
{
    /* 在这里写代码：用一个数组当栈，记下左括号的位置 */

    return 0;
}
