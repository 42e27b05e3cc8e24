#include <stdio.h>

int main(void)
{
    int n, i, j;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (i = 1; i <= n; i++) {
        for (j = 1; j <= n; j++) {
            printf("%d*%d=%d%s", j, i, i * j, j < n ? " " : "\n");
        }
    }
    return 0;
}
