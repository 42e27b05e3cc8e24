#include <stdio.h>

int main(void)
{
    int h1, m1, h2, m2, minutes;
    scanf("%d:%d %d:%d", &h1, &m1, &h2, &m2);
    minutes = ((h2 * 60 + m2) - (h1 * 60 + m1) + 1440) % 1440;
    if (minutes == 0) {
        minutes = 1440;
    }
    printf("%d %d\n", minutes / 60, minutes % 60);
    return 0;
}
