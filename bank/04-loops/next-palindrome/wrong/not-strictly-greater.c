#include <stdio.h>

int main(void)
{
    long n, m, r;
    if (scanf("%ld", &n) != 1) {
        return 0;
    }
    for (m = n;; m++) {
        long t = m;
        r = 0;
        while (t > 0) {
            r = r * 10 + t % 10;
            t /= 10;
        }
        if (r == m) {
            break;
        }
    }
    printf("%ld\n", m);
    return 0;
}
