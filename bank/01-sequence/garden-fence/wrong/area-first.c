#include <stdio.h>

int main(void)
{
    int a, b;
    if (scanf("%d %d", &a, &b) != 2) {
        return 0;
    }
    printf("%d %d\n", a * b, 2 * (a + b));
    return 0;
}
