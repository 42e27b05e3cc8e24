#include <stdio.h>

int main(void)
{
    long long n, top;
    int steps = 0;
    scanf("%lld", &n);
    top = n;
    while (n != 1) {
        n = n % 2 == 0 ? n / 2 : 3 * n + 1;
        if (n > top) {
            top = n;
        }
        steps++;
    }
    printf("%d %lld\n", steps, top);
    return 0;
}
