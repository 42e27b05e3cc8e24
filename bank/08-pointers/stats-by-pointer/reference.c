#include <stdio.h>

void stats(const double *a, int n, double *min, double *max, double *avg)
{
    double sum = 0;
    int i;
    *min = a[0];
    *max = a[0];
    for (i = 0; i < n; i++) {
        if (a[i] < *min) {
            *min = a[i];
        }
        if (a[i] > *max) {
            *max = a[i];
        }
        sum += a[i];
    }
    *avg = sum / n;
}

int main(void)
{
    double a[1000], lo, hi, avg;
    int n, i;
    scanf("%d", &n);
    for (i = 0; i < n; i++) {
        scanf("%lf", &a[i]);
    }
    stats(a, n, &lo, &hi, &avg);
    printf("%.2f %.2f %.2f\n", lo, hi, avg);
    return 0;
}
