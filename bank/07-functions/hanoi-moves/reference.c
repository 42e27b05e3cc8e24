#include <stdio.h>

void hanoi(int n, char from, char via, char to)
{
    if (n == 0) {
        return;
    }
    hanoi(n - 1, from, to, via);
    printf("%d %c %c\n", n, from, to);
    hanoi(n - 1, via, from, to);
}

int main(void)
{
    int n;
    scanf("%d", &n);
    printf("%d\n", (1 << n) - 1);
    hanoi(n, 'A', 'B', 'C');
    return 0;
}
