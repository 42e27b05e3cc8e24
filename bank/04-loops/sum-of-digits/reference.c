#include <stdio.h>

int main(void)
{
    long long n;
    int sum = 0;
    scanf("%lld", &n);
    while (n > 0) {
        sum += (int)(n % 10);
        n /= 10;
    }
    printf("%d\n", sum);
    return 0;
}
