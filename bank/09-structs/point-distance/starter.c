#include <math.h>
#include <stdio.h>

struct point {
    double x, y;
};

int main(void)
{
    /* 在这里写代码：读入两个点，输出距离（保留三位小数） */

    return 0;
}
