#include <stdio.h>

int main(void)
{
    int a, b;
    if (scanf("%d %d", &a, &b) != 2) {
        return 0;
    }
    /* 在这里写代码：枚举 a 到 b 的每个数，判断它是不是自幂数 */

    return 0;
}
