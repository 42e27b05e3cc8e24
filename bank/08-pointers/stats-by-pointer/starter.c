#include <stdio.h>

void stats(const double *a, int n, double *min, double *max, double *avg)
{
    /* 在这里写代码：求最小值、最大值和平均值，通过指针带回 */
}

int main(void)
{
    double a[1000], lo = 0, hi = 0, avg = 0;
    int n, i;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (i = 0; i < n; i++) {
        if (scanf("%lf", &a[i]) != 1) {
            return 0;
        }
    }
    stats(a, n, &lo, &hi, &avg);
    printf("%.2f %.2f %.2f\n", lo, hi, avg);
    return 0;
}
