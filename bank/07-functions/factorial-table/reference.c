#include <stdio.h>

long long factorial(int n)
{
    long long f = 1;
    int i;
    for (i = 2; i <= n; i++) {
        f *= i;
    }
    return f;
}

int main(void)
{
    int n, k;
    scanf("%d", &n);
    for (k = 1; k <= n; k++) {
        printf("%d! = %lld\n", k, factorial(k));
    }
    return 0;
}
