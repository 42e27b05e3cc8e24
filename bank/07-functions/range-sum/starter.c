#include <stdio.h>

long long range_sum(long long a, long long b)
{
    /* 在这里写代码：必要时先交换 a 和 b，再用公式求和 */
    return 0;
}

int main(void)
{
    int q;
    if (scanf("%d", &q) != 1) {
        return 0;
    }
    for (int i = 0; i < q; i++) {
        long long a, b;
        if (scanf("%lld %lld", &a, &b) != 2) {
            break;
        }
        printf("%lld\n", range_sum(a, b));
    }
    return 0;
}
