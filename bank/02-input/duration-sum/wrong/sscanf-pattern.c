#include <stdio.h>

int main(void)
{
    char rec[64];
    long total = 0;
    while (scanf("%63s", rec) == 1) {
        long h = 0, m = 0;
        sscanf(rec, "%ldh%ldm", &h, &m);
        total += h * 60 + m;
    }
    printf("%ldh %ldm\n", total / 60, total % 60);
    return 0;
}
