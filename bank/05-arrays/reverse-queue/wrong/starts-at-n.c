#include <stdio.h>

int main(void)
{
    int n, i;
    static int a[1001];
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (i = 0; i < n; i++) {
        if (scanf("%d", &a[i]) != 1) {
            return 0;
        }
    }
    for (i = n; i >= 0; i--) {
        printf("%d", a[i]);
        printf(i > 0 ? " " : "\n");
    }
    return 0;
}
