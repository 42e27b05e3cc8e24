#include <stdio.h>

int main(void)
{
    int n, i, j;
    scanf("%d", &n);
    for (i = 1; i <= n; i++) {
        for (j = 1; j <= i; j++) {
            printf("%d*%d=%d%s", j, i, i * j, j < i ? " " : "\n");
        }
    }
    return 0;
}
