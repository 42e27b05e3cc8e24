#include <stdio.h>

int main(void)
{
    /* 在这里写代码：用 malloc 分配数组，读完后记得 free */

    return 0;
}
