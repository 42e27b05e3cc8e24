#include <stdio.h>

int main(void)
{
    double c;
    if (scanf("%lf", &c) != 1) {
        return 0;
    }
    printf("%.1f\n", c * 9.0 / 5.0 + 32.0);
    return 0;
}
