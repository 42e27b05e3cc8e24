#include <stdio.h>

int main(void)
{
    double a, r, balance = 0;
    int n, i;
    scanf("%lf %lf %d", &a, &r, &n);
    for (i = 0; i < n; i++) {
        balance += a;
        balance *= 1 + r / 100;
    }
    printf("%.2f\n", balance);
    return 0;
}
