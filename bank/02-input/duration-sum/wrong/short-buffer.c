#include <stdio.h>

int main(void)
{
    char rec[8];
    long total = 0;
    while (scanf("%7s", rec) == 1) {
        long num = 0;
        char *p;
        for (p = rec; *p != '\0'; p++) {
            if (*p >= '0' && *p <= '9') {
                num = num * 10 + (*p - '0');
            } else if (*p == 'h') {
                total += num * 60;
                num = 0;
            } else if (*p == 'm') {
                total += num;
                num = 0;
            }
        }
    }
    printf("%ldh %ldm\n", total / 60, total % 60);
    return 0;
}
