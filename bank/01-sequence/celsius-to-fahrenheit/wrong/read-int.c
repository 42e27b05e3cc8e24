#include <stdio.h>

int main(void)
{
    int c;
    if (scanf("%d", &c) != 1) {
        return 0;
    }
    printf("%.1f\n", c * 9.0 / 5.0 + 32.0);
    return 0;
}
