#include <stdio.h>

int main(void)
{
    int n, i, count = 0;
    int a[1000];
    long sum = 0;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (i = 0; i < n; i++) {
        if (scanf("%d", &a[i]) != 1) {
            return 0;
        }
        sum += a[i];
    }
    for (i = 0; i < n - 1; i++) {
        if ((long)a[i] * n > sum) {
            count++;
        }
    }
    printf("%d\n", count);
    return 0;
}
