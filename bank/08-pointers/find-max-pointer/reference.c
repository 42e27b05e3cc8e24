#include <stdio.h>

int *find_max(int *a, int n)
{
    int *best = a;
    for (int *p = a + 1; p < a + n; p++) {
        if (*p > *best) {
            best = p;
        }
    }
    return best;
}

int main(void)
{
    int n, a[1000];
    scanf("%d", &n);
    for (int i = 0; i < n; i++) {
        scanf("%d", &a[i]);
    }
    int *p = find_max(a, n);
    printf("%d %d\n", *p, (int)(p - a) + 1);
    return 0;
}
