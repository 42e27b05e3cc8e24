#include <stdio.h>
static long gcd(long a, long b) { if (a < 0) a = -a; if (b < 0) b = -b; while (b) { long t = a % b; a = b; b = t; } return a; }
int main(void)
{
    long an, ad, bn, bd, n, d, g;
    char op;
    if (scanf("%ld/%ld %c %ld/%ld", &an, &ad, &op, &bn, &bd) != 5) return 0;
    if (op == '+') { n = an * bd + bn * ad; d = ad * bd; }
    else if (op == '-') { n = an * bd - bn * ad; d = ad * bd; }
    else if (op == '*') { n = an * bn; d = ad * bd; }
    else { n = an * bd; d = ad * bn; }
    g = gcd(n, d);
    printf("%ld/%ld\n", n / g, d / g);
    return 0;
}
