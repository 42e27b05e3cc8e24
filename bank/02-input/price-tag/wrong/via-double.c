#include <stdio.h>
int main(void)
{
    long p;
    if (scanf("%ld", &p) != 1) return 0;
    printf("%.1f\n", p / 100.0);
    return 0;
}
