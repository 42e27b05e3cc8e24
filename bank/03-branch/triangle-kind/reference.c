#include <stdio.h>

int main(void)
{
    long a, b, c, t;
    scanf("%ld %ld %ld", &a, &b, &c);
    if (a > c) { t = a; a = c; c = t; }
    if (b > c) { t = b; b = c; c = t; }
    if (a + b <= c) {
        printf("none\n");
    } else if (a == b && b == c) {
        printf("equilateral\n");
    } else if (a == b || b == c || a == c) {
        printf("isosceles\n");
    } else if (a * a + b * b == c * c) {
        printf("right\n");
    } else {
        printf("scalene\n");
    }
    return 0;
}
