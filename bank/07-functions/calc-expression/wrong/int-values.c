#include <stdio.h>

static const char *p;

static void skip(void)
{
    while (*p == ' ') {
        p++;
    }
}

static int expr(void);

static int factor(void)
{
    int v = 0;
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

static int term(void)
{
    int v = factor();
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

static int expr(void)
{
    int v = term();
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
    printf("%d\n", expr());
    return 0;
}
