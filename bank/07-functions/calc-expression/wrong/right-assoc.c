#include <stdio.h>

static const char *p;

static void skip(void)
{
    while (*p == ' ') {
        p++;
    }
}

static long long expr(void);

static long long factor(void)
{
    long long v = 0;
    skip();
    if (*p == '(') {
        p++;
        v = expr();
        skip();
        p++; /* ')' */
        return v;
    }
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (*p - '0');
        p++;
    }
    return v;
}

static long long term(void)
{
    long long v = factor();
    for (;;) {
        skip();
        if (*p == '*') {
            p++;
            v *= factor();
        } else if (*p == '/') {
            p++;
            v /= factor();
        } else {
            return v;
        }
    }
}

static long long expr(void)
{
    long long v = term();
    skip();
    if (*p == '+') {
        p++;
        return v + expr();
    }
    if (*p == '-') {
        p++;
        return v - expr();
    }
    return v;
}

int main(void)
{
    static char line[1100];
    if (fgets(line, sizeof line, stdin) == NULL) {
        return 0;
    }
    p = line;
    printf("%lld\n", expr());
    return 0;
}
