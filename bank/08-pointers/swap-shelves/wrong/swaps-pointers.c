#include <stdio.h>

void swap(int *a, int *b)
{
    int *t = a;
    a = b;
    b = t;
    (void)a;
    (void)b;
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
