#include <stdio.h>
int max3(int a, int b, int c)
{
    (void)c;
    return a > b ? a : b;
}
int main(void)
{
    int a, b, c;
    if (scanf("%d %d %d", &a, &b, &c) != 3) return 0;
    printf("%d\n", max3(a, b, c));
    return 0;
}
