#include <stdio.h>

int max3(int a, int b, int c)
{
    if (a > b && a > c) {
        return a;
    } else if (b > a && b > c) {
        return b;
    }
    return c;
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
