#include <stdio.h>

int main(void)
{
    long p;
    scanf("%ld", &p);
    printf("%ld.%02ld\n", p / 100, p % 100);
    return 0;
}
