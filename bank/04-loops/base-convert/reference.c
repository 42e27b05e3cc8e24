#include <stdio.h>

int digit_value(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return c - 'A' + 10;
}

int main(void)
{
    int p, q;
    char s[65];
    scanf("%d %64s %d", &p, s, &q);
    long long value = 0;
    for (const char *c = s; *c != '\0'; c++) {
        value = value * p + digit_value(*c);
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
