#include <stdio.h>

int main(void)
{
    int x, days = 0, best = 0;
    long total = 0;
    while (!feof(stdin)) {
        scanf("%d", &x);
        days++;
        total += x;
        if (x > best) {
            best = x;
        }
    }
    printf("%d %ld %d\n", days, total, best);
    return 0;
}
