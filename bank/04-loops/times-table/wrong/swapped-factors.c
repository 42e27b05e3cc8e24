#include <stdio.h>

int main(void)
{
    int n, i, j;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (i = 1; i <= n; i++) {
        for (j = 1; j <= i; j++) {
            printf("%d*%d=%d%s", i, j, i * j, j < i ? " " : "\n");
        }
    }
    return 0;
}
