#include <stdio.h>

int max3(int a, int b, int c)
{
    /* 在这里写代码：返回 a、b、c 中最大的一个 */
    return a;
}

int main(void)
{
    int a, b, c;
    if (scanf("%d %d %d", &a, &b, &c) != 3) {
        return 0;
    }
    printf("%d\n", max3(a, b, c));
    return 0;
}
