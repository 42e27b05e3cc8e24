#include <stdio.h>

int main(void)
{
    int n, k, i;
    double a[1000], sum = 0;
    if (scanf("%d %d", &n, &k) != 2) {
        return 0;
    }
    for (i = 0; i < n; i++) {
        if (scanf("%lf", &a[i]) != 1) {
            return 0;
        }
    }
    for (i = 0; i < n; i++) {
        sum += a[i];
        if (i >= k) {
            sum -= a[i - k];
        }
        if (i >= k - 1) {
            printf("%.2f%s", sum / 3, i < n - 1 ? " " : "\n");
        }
    }
    return 0;
}
