#include <stdio.h>

int main(void)
{
    double c;
    if (scanf("%lf", &c) != 1) {
        return 0;
    }
    printf("%.1f\n", (int)((c * 9.0 / 5.0 + 32.0) * 10) / 10.0);
    return 0;
}
