#include <stdio.h>

int main(void)
{
    static int a[50][50];
    int n, top, bottom, left, right, k = 1, i, j;
    scanf("%d", &n);
    top = 0;
    bottom = n - 1;
    left = 0;
    right = n - 1;
    while (k <= n * n) {
        for (j = left; j <= right; j++) a[top][j] = k++;
        top++;
        for (i = top; i <= bottom; i++) a[i][right] = k++;
        right--;
        for (j = right; j >= left && top <= bottom; j--) a[bottom][j] = k++;
        bottom--;
        for (i = bottom; i >= top && left <= right; i--) a[i][left] = k++;
        left++;
    }
    for (i = 0; i < n; i++) {
        for (j = 0; j < n; j++) {
            printf("%d%s", a[i][j], j < n - 1 ? " " : "\n");
        }
    }
    return 0;
}
