#include <stdio.h>

int main(void)
{
    int a, b, c;
    if (scanf("%d %d %d", &a, &b, &c) != 3) {
        return 0;
    }
    printf("%.2f\n", (int)((a + b + c) * 100 / 3) / 100.0);
    return 0;
}
