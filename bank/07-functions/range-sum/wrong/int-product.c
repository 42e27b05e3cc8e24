#include <stdio.h>

long long range_sum(int a, int b)
{
    if (a > b) {
        int t = a;
        a = b;
        b = t;
    }
    long long s = (a + b) * (b - a + 1) / 2;
    return s;
}

int main(void)
{
    int q;
    if (scanf("%d", &q) != 1) {
        return 0;
    }
    for (int i = 0; i < q; i++) {
        int a, b;
        if (scanf("%d %d", &a, &b) != 2) {
            break;
        }
        printf("%lld\n", range_sum(a, b));
    }
    return 0;
}
