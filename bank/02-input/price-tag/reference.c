#include <stdio.h>

int main(void)
{
    long p;
    if (scanf("%ld", &p) != 1) {
        return 0;
    }
    printf("%ld.%02ld\n", p / 100, p % 100);
    return 0;
}
