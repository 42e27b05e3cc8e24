#include <stdio.h>

int main(void)
{
    static int a[100][100];
    int r, c, i, j;
    if (scanf("%d %d", &r, &c) != 2) {
        return 0;
    }
    for (i = 0; i < r; i++) {
        for (j = 0; j < c; j++) {
            if (scanf("%d", &a[i][j]) != 1) {
                return 0;
            }
        }
    }
    for (j = 0; j < c; j++) {
        for (i = 0; i < r; i++) {
            printf("%d%s", a[i][j], i < r - 1 ? " " : "\n");
        }
    }
    return 0;
}
