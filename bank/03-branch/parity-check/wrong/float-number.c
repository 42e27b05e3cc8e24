#include <stdio.h>

int main(void)
{
    float n;
    if (scanf("%f", &n) != 1) {
        return 0;
    }
    if ((long long)n % 2 == 0) {
        printf("even\n");
    } else {
        printf("odd\n");
    }
    return 0;
}
