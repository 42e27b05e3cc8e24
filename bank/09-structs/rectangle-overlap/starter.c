#include <stdio.h>

struct rect {
    long long left, bottom, right, top;
};

/* 在这里写代码：读入两个顶点，整理成 struct rect；再求重叠面积 */

int main(void)
{

    return 0;
}
