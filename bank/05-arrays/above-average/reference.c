#include <stdio.h>

int main(void)
{
    int n, i, count = 0;
    int a[1000];
    long sum = 0;
    scanf("%d", &n);
    for (i = 0; i < n; i++) {
        scanf("%d", &a[i]);
        sum += a[i];
    }
    for (i = 0; i < n; i++) {
        if ((long)a[i] * n > sum) {
            count++;
        }
    }
    printf("%d\n", count);
    return 0;
}
