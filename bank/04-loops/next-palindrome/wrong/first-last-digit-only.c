#include <stdio.h>

int main(void)
{
    long n, m, r;
    if (scanf("%ld", &n) != 1) {
        return 0;
    }
    for (m = n + 1;; m++) {
        long t = m;
        while (t >= 10) {
            t /= 10;
        }
        r = m % 10;
        if (r == t) {
            break;
        }
    }
    printf("%ld\n", m);
    return 0;
}
