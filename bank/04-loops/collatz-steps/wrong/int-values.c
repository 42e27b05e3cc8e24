#include <stdio.h>

int main(void)
{
    int n, top;
    int steps = 0;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    top = n;
    while (n != 1) {
        n = n % 2 == 0 ? n / 2 : 3 * n + 1;
        if (n > top) {
            top = n;
        }
        steps++;
    }
    printf("%d %d\n", steps, top);
    return 0;
}
