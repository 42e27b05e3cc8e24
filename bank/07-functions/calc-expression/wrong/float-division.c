#include <stdio.h>

static const char *p;

static void skip(void)
{
    while (*p == ' ') {
        p++;
    }
}

static double expr(void);

static double factor(void)
{
    double v = 0;
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

static double term(void)
{
    double v = factor();
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

static double expr(void)
{
    double v = term();
    for (;;) {
        skip();
        if (*p == '+') {
            p++;
            v += term();
        } else if (*p == '-') {
            p++;
            v -= term();
        } else {
            return v;
        }
    }
}

int main(void)
{
    static char line[1100];
    if (fgets(line, sizeof line, stdin) == NULL) {
        return 0;
    }
    p = line;
    printf("%lld\n", (long long)expr());
    return 0;
}
