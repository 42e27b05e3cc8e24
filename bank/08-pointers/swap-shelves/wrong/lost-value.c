#include <stdio.h>

void swap(int *a, int *b)
{
    *a = *b;
    *b = *a;
}

int main(void)
{
    int x, y;
    if (scanf("%d %d", &x, &y) != 2) {
        return 0;
    }
    swap(&x, &y);
    printf("%d %d\n", x, y);
    return 0;
}
