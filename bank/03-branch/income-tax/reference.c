#include <stdio.h>

int main(void)
{
    double income, taxable, tax = 0;
    scanf("%lf", &income);
    taxable = income - 5000;
    if (taxable > 25000) {
        tax += (taxable - 25000) * 0.25;
        taxable = 25000;
    }
    if (taxable > 12000) {
        tax += (taxable - 12000) * 0.20;
        taxable = 12000;
    }
    if (taxable > 3000) {
        tax += (taxable - 3000) * 0.10;
        taxable = 3000;
    }
    if (taxable > 0) {
        tax += taxable * 0.03;
    }
    printf("%.2f\n", tax);
    return 0;
}
