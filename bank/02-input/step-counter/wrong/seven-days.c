#include <stdio.h>

int main(void)
{
    int x, days = 0, best = 0;
    long total = 0;
    while (days < 7 && scanf("%d", &x) == 1) {
        days++;
        total += x;
        if (x > best) {
            best = x;
        }
    }
    printf("%d %ld %d\n", days, total, best);
    return 0;
}
