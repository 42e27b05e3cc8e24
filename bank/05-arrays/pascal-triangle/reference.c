#include <stdio.h>

int main(void)
{
    int n;
    scanf("%d", &n);
    int c[30][30];
    for (int i = 0; i < n; i++) {
        c[i][0] = 1;
        c[i][i] = 1;
        for (int j = 1; j < i; j++) {
            c[i][j] = c[i - 1][j - 1] + c[i - 1][j];
        }
        printf("%d:", i + 1);
        for (int j = 0; j <= i; j++) {
            printf(" %d", c[i][j]);
        }
        printf("\n");
    }
    return 0;
}
