#include <stdio.h>

int main(void)
{
    int n;
    int sum = 0;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    while (n > 0) {
        sum += (int)(n % 10);
        n /= 10;
    }
    printf("%d\n", sum);
    return 0;
}
