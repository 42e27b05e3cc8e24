#include <stdio.h>

int main(void)
{
    int y, m, d, a, y2, m2, w;
    double t;
    if (scanf("%d %d %d", &y, &m, &d) != 3) {
        return 0;
    }
    a = (14 - m) / 12;
    y2 = y - a;
    m2 = m + 12 * a - 2;
    t = d + y2 + y2 / 4.0 - y2 / 100.0 + y2 / 400.0 + 31 * m2 / 12.0;
    w = (int)t % 7;
    printf("%d\n", (w + 6) % 7 + 1);
    return 0;
}
