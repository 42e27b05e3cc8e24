#include <stdio.h>

long long ways(int n)
{
    long long a = 0, b = 1, c;
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
    printf("%lld\n", ways(n));
    return 0;
}
