#include <stdio.h>

int factorial(int k)
{
    int f = 1;
    for (int i = 2; i <= k; i++) {
        f *= i;
    }
    return f;
}

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        printf("%d:", i + 1);
        for (int j = 0; j <= i; j++) {
            printf(" %d", factorial(i) / (factorial(j) * factorial(i - j)));
        }
        printf("\n");
    }
    return 0;
}
