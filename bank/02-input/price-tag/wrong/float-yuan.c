#include <stdio.h>

int main(void)
{
    long p;
    if (scanf("%ld", &p) != 1) {
        return 0;
    }
    printf("%.2f\n", (float)p / 100);
    return 0;
}
