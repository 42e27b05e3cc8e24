#include <stdio.h>

int main(void)
{
    int n, i, x, hi = 0, hi_at = 0, lo = 0, lo_at = 0;
    scanf("%d", &n);
    for (i = 1; i <= n; i++) {
        scanf("%d", &x);
        if (i == 1 || x > hi) {
            hi = x;
            hi_at = i;
        }
        if (i == 1 || x < lo) {
            lo = x;
            lo_at = i;
        }
    }
    printf("%d %d %d %d\n", hi, hi_at, lo, lo_at);
    return 0;
}
