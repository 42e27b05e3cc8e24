#include <stdio.h>

// Adds the numbers one by one: right, but two billion steps for a wide range.
long long range_sum(long long a, long long b)
{
    if (a > b) {
        long long t = a;
        a = b;
        b = t;
    }
    long long sum = 0;
    for (long long x = a; x <= b; x++) {
        sum += x;
    }
    return sum;
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
