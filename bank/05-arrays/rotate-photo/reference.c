#include <stdio.h>

int main(void)
{
    static int a[100][100];
    int r, c, i, j;
    scanf("%d %d", &r, &c);
    for (i = 0; i < r; i++) {
        for (j = 0; j < c; j++) {
            scanf("%d", &a[i][j]);
        }
    }
    for (j = 0; j < c; j++) {
        for (i = r - 1; i >= 0; i--) {
            printf("%d%s", a[i][j], i > 0 ? " " : "\n");
        }
    }
    return 0;
}
