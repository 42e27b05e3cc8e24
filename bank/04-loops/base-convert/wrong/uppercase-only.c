#include <stdio.h>

int main(void)
{
    int p, q;
    char s[65];
    if (scanf("%d %64s %d", &p, s, &q) != 3) {
        return 0;
    }
    long long value = 0;
    for (const char *c = s; *c != '\0'; c++) {
        int d = *c <= '9' ? *c - '0' : *c - 'A' + 10;
        value = value * p + d;
    }
    const char *digits = "0123456789ABCDEF";
    char out[70];
    int len = 0;
    do {
        out[len++] = digits[value % q];
        value /= q;
    } while (value > 0);
    while (len > 0) {
        putchar(out[--len]);
    }
    putchar('\n');
    return 0;
}
