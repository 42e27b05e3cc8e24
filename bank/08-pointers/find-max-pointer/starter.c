#include <stdio.h>

int *find_max(int *a, int n)
{
    /* 在这里写代码：用指针遍历数组，返回指向最大值的指针 */
    (void)n;
    return a;
}

int main(void)
{
    int n, a[1000];
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        scanf("%d", &a[i]);
    }
    int *p = find_max(a, n);
    printf("%d %d\n", *p, (int)(p - a) + 1);
    return 0;
}
