#include <stdio.h>

int main(void)
{
    double c;
    scanf("%lf", &c);
    printf("%.1f\n", c * 9.0 / 5.0 + 32.0);
    return 0;
}
