#include <stdio.h>

int main(void)
{
    long long a, b;
    scanf("%lld %lld", &a, &b);
    long long x = a, y = b;
    while (y != 0) {
        long long r = x % y;
        x = y;
        y = r;
    }
    printf("%lld %lld\n", x, a / x * b);
    return 0;
}
