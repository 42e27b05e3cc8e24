#include <stdio.h>

int main(void)
{
    /* 在这里写代码：先建一个首尾相接的链表，再模拟报数 */

    return 0;
}
