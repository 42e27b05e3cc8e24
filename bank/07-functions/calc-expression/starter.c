#include <stdio.h>

int main(void)
{
    /* 在这里写代码：先写 factor，再写 term 和 expr，它们互相调用 */

    return 0;
}
