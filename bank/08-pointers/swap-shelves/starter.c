#include <stdio.h>

void swap(int *a, int *b)
{
    /* 在这里写代码：通过指针交换 *a 和 *b */
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
