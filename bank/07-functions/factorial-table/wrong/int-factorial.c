#include <stdio.h>

int factorial(int n)
{
    int f = 1;
    int i;
    for (i = 2; i <= n; i++) {
        f *= i;
    }
    return f;
}

int main(void)
{
    int n, k;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (k = 1; k <= n; k++) {
        printf("%d! = %d\n", k, factorial(k));
    }
    return 0;
}
