#include <stdio.h>

// The formula in double: right while the sum has at most about 15 digits.
long long range_sum(long long a, long long b)
{
    if (a > b) {
        long long t = a;
        a = b;
        b = t;
    }
    double sum = (double)(a + b) * (double)(b - a + 1) / 2.0;
    return (long long)sum;
}

int main(void)
{
    int q;
    scanf("%d", &q);
    for (int i = 0; i < q; i++) {
        long long a, b;
        scanf("%lld %lld", &a, &b);
        printf("%lld\n", range_sum(a, b));
    }
    return 0;
}
