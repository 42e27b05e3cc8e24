#include <stdio.h>

int main(void)
{
    int a, b;
    if (scanf("%d %d", &a, &b) != 2) {
        return 0;
    }
    float area = a * b;
    printf("%d %.0f\n", 2 * (a + b), area);
    return 0;
}
