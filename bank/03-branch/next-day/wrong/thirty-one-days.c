#include <stdio.h>

int main(void)
{
    int y, m, d, days;
    if (scanf("%d %d %d", &y, &m, &d) != 3) {
        return 0;
    }
    if (m == 2) {
        days = ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0) ? 29 : 28;
    } else if (m == 4 || m == 6) {
        days = 30;
    } else {
        days = 31;
    }
    d++;
    if (d > days) {
        d = 1;
        m++;
        if (m > 12) {
            m = 1;
            y++;
        }
    }
    printf("%d %d %d\n", y, m, d);
    return 0;
}
