#include <stdio.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        /* 在这里写代码：读入一个颜色代码，输出三个分量和反色 */
    }
    return 0;
}
