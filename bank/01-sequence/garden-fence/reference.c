#include <stdio.h>

int main(void)
{
    int a, b;
    scanf("%d %d", &a, &b);
    printf("%d %d\n", 2 * (a + b), a * b);
    return 0;
}
