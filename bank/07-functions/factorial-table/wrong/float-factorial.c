#include <stdio.h>

float factorial(int n)
{
    float f = 1;
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
        printf("%d! = %.0f\n", k, factorial(k));
    }
    return 0;
}
