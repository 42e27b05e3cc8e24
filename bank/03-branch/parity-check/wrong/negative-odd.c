#include <stdio.h>
int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) return 0;
    if (n % 2 == 1) printf("odd\n"); else printf("even\n");
    return 0;
}
