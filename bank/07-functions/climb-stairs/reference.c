#include <stdio.h>

long long ways(int n)
{
    long long a = 1, b = 1, c;
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
    scanf("%d", &n);
    printf("%lld\n", ways(n));
    return 0;
}
