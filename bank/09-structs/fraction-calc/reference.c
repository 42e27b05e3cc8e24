#include <stdio.h>

struct fraction {
    long num, den;
};

static long gcd(long a, long b)
{
    if (a < 0) {
        a = -a;
    }
    while (b != 0) {
        long t = a % b;
        a = b;
        b = t;
    }
    return a;
}

static struct fraction make(long num, long den)
{
    struct fraction f;
    long g;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    g = gcd(num, den);
    f.num = num / g;
    f.den = den / g;
    return f;
}

int main(void)
{
    struct fraction a, b, r;
    char op;
    scanf("%ld/%ld %c %ld/%ld", &a.num, &a.den, &op, &b.num, &b.den);
    switch (op) {
    case '+':
        r = make(a.num * b.den + b.num * a.den, a.den * b.den);
        break;
    case '-':
        r = make(a.num * b.den - b.num * a.den, a.den * b.den);
        break;
    case '*':
        r = make(a.num * b.num, a.den * b.den);
        break;
    default:
        r = make(a.num * b.den, a.den * b.num);
        break;
    }
    printf("%ld/%ld\n", r.num, r.den);
    return 0;
}
