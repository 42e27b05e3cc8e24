#include <stdio.h>

int main(void)
{
    long n, m, r;
    scanf("%ld", &n);
    for (m = n + 1;; m++) {
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
