#include <stdio.h>

int main(void)
{
    int n, i;
    short a[1000];
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (i = 0; i < n; i++) {
        if (scanf("%hd", &a[i]) != 1) {
            return 0;
        }
    }
    for (i = n - 1; i >= 0; i--) {
        printf("%d", a[i]);
        printf(i > 0 ? " " : "\n");
    }
    return 0;
}
