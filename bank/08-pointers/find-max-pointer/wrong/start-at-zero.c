#include <stdio.h>

int *find_max(int *a, int n)
{
    static int zero = 0;
    int *best = &zero;
    for (int *p = a; p < a + n; p++) {
        if (*p > *best) {
            best = p;
        }
    }
    return best;
}

int main(void)
{
    int n, a[1000];
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        if (scanf("%d", &a[i]) != 1) {
            return 0;
        }
    }
    int *p = find_max(a, n);
    printf("%d %d\n", *p, p >= a && p < a + n ? (int)(p - a) + 1 : 0);
    return 0;
}
