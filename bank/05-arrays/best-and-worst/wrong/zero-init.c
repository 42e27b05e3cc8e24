#include <stdio.h>

int main(void)
{
    int n, i, x, hi = 0, hi_at = 0, lo = 0, lo_at = 0;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (i = 1; i <= n; i++) {
        if (scanf("%d", &x) != 1) {
            return 0;
        }
        if (x > hi) {
            hi = x;
            hi_at = i;
        }
        if (x < lo) {
            lo = x;
            lo_at = i;
        }
    }
    printf("%d %d %d %d\n", hi, hi_at, lo, lo_at);
    return 0;
}
