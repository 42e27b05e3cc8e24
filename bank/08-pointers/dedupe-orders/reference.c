#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    int n, m = 0, i, j;
    long *a;
    scanf("%d", &n);
    a = malloc(sizeof *a * (size_t)n);
    if (a == NULL) {
        return 1;
    }
    for (i = 0; i < n; i++) {
        long x;
        scanf("%ld", &x);
        for (j = 0; j < m && a[j] != x; j++) {
        }
        if (j == m) {
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
