#include <stdio.h>

double ways(int n)
{
    double a = 1, b = 1, c;
    int i;
    for (i = 2; i <= n; i++) {
        c = a + b;
        a = b;
        b = c;
    }
    return b;
}

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    printf("%.0f\n", ways(n));
    return 0;
}
