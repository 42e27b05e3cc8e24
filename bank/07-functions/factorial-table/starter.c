#include <stdio.h>

int main(void)
{
    /* 在这里写代码：写一个求阶乘的函数并调用它 */

    return 0;
}
