#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    int n, m = 0, i, j;
    long *a;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    a = malloc(sizeof *a * (size_t)n);
    if (a == NULL) {
        return 1;
    }
    for (i = 0; i < n; i++) {
        long x;
        if (scanf("%ld", &x) != 1) {
            break;
        }
        j = m;
        if (m == 0 || a[m - 1] != x) {
            a[m++] = x;
        }
    }
    printf("%d\n", m);
    for (i = 0; i < m; i++) {
        printf("%ld%s", a[i], i < m - 1 ? " " : "\n");
    }
    free(a);
    return 0;
}
