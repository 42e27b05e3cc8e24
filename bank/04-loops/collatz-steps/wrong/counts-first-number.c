#include <stdio.h>

int main(void)
{
    long long n, top;
    int steps = 0;
    if (scanf("%lld", &n) != 1) {
        return 0;
    }
    top = n;
    do {
        n = n % 2 == 0 ? n / 2 : 3 * n + 1;
        if (n > top) {
            top = n;
        }
        steps++;
    } while (n != 1);
    printf("%d %lld\n", steps, top);
    return 0;
}
