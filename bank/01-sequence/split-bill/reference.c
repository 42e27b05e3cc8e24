#include <stdio.h>

int main(void)
{
    int m, n;
    scanf("%d %d", &m, &n);
    int each = (m + n - 1) / n;
    int extra = each * n - m;
    printf("%d %d\n", each, extra);
    return 0;
}
