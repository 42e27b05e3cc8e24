#include <stdio.h>

int main(void)
{
    double income, t;
    if (scanf("%lf", &income) != 1) return 0;
    t = income - 5000;
    if (t <= 0) printf("0.00\n");
    else if (t <= 3000) printf("%.2f\n", t * 0.03);
    else if (t <= 12000) printf("%.2f\n", t * 0.10);
    else if (t <= 25000) printf("%.2f\n", t * 0.20);
    else printf("%.2f\n", t * 0.25);
    return 0;
}
