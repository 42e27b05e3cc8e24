#include <stdio.h>

int main(void)
{
    /* 在这里写代码：判断 n 的奇偶并输出 even 或 odd */

    return 0;
}
