#include <stdio.h>

int main(void)
{
    long p;
    if (scanf("%ld", &p) != 1) {
        return 0;
    }
    if (p >= 100) {
        printf("%ld", p / 100);
    }
    printf(".%02ld\n", p % 100);
    return 0;
}
