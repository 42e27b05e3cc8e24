#include <stdio.h>

int main(void)
{
    double a, r, balance = 0;
    int n, i;
    if (scanf("%lf %lf %d", &a, &r, &n) != 3) {
        return 0;
    }
    for (i = 0; i < n; i++) {
        balance += a;
        balance *= 1 + r / 1000;
    }
    printf("%.2f\n", balance);
    return 0;
}
