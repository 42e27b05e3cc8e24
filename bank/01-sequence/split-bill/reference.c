#include <stdio.h>

int main(void)
{
    int m, n;
    if (scanf("%d %d", &m, &n) != 2) {
        return 0;
    }
    int each = (m + n - 1) / n;
    int extra = each * n - m;
    printf("%d %d\n", each, extra);
    return 0;
}
