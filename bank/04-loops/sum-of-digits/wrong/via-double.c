#include <math.h>
#include <stdio.h>

int main(void)
{
    double n;
    int sum = 0;
    if (scanf("%lf", &n) != 1) {
        return 0;
    }
    while (n >= 1) {
        sum += (int)fmod(n, 10);
        n = floor(n / 10);
    }
    printf("%d\n", sum);
    return 0;
}
