#include <stdio.h>

int main(void)
{
    int y, m, d, days;
    scanf("%d %d %d", &y, &m, &d);
    if (m == 2) {
        days = ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0) ? 29 : 28;
    } else if (m == 4 || m == 6 || m == 9 || m == 11) {
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
