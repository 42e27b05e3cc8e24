#include <stdio.h>

int main(void)
{
    unsigned long long a, b;
    if (scanf("%llu %llu", &a, &b) != 2) {
        return 0;
    }
    printf("%llu\n", a + b);
    return 0;
}
