#include <stdio.h>

int main(void)
{
    int y, m, d, a, y2, m2, w;
    scanf("%d %d %d", &y, &m, &d);
    a = (14 - m) / 12;
    y2 = y - a;
    m2 = m + 12 * a - 2;
    w = (d + y2 + y2 / 4 - y2 / 100 + y2 / 400 + 31 * m2 / 12) % 7;
    printf("%d\n", (w + 6) % 7 + 1);
    return 0;
}
