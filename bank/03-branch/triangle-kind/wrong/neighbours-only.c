#include <stdio.h>

// Looks for equal sides only among neighbours (a, b) and (b, c), after putting the
// longest side last but otherwise keeping the order read.
int main(void)
{
    long a, b, c, t;
    if (scanf("%ld %ld %ld", &a, &b, &c) != 3) {
        return 0;
    }
    if (b > c) { t = b; b = c; c = t; }
    if (a > c) { t = a; a = c; c = t; }
    if (a + b <= c) {
        printf("none\n");
    } else if (a == b && b == c) {
        printf("equilateral\n");
    } else if (a == b || b == c) {
        printf("isosceles\n");
    } else if (a * a + b * b == c * c) {
        printf("right\n");
    } else {
        printf("scalene\n");
    }
    return 0;
}
