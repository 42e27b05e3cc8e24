#include <stdio.h>

int main(void)
{
    int n, k, i;
    double a[1000], sum = 0;
    scanf("%d %d", &n, &k);
    for (i = 0; i < n; i++) {
        scanf("%lf", &a[i]);
    }
    for (i = 0; i < n; i++) {
        sum += a[i];
        if (i >= k) {
            sum -= a[i - k];
        }
        if (i >= k - 1) {
            printf("%.2f%s", sum / k, i < n - 1 ? " " : "\n");
        }
    }
    return 0;
}
