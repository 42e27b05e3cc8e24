#include <stdio.h>

int main(void)
{
    /* 在这里写代码：想一想：新矩阵第 j 行来自原矩阵的哪一列，顺序如何 */

    return 0;
}
