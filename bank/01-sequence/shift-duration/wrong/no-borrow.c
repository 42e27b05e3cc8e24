#include <stdio.h>

int main(void)
{
    int h1, m1, h2, m2, minutes;
    if (scanf("%d:%d %d:%d", &h1, &m1, &h2, &m2) != 4) {
        return 0;
    }
    minutes = m2 - m1;
    if (h2 * 60 + m2 <= h1 * 60 + m1) {
        h2 += 24;
    }
    printf("%d %d\n", h2 - h1, minutes);
    return 0;
}
