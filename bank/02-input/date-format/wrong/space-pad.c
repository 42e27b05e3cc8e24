#include <stdio.h>

int main(void)
{
    int y, m, d;
    if (scanf("%d-%d-%d", &y, &m, &d) != 3) {
        return 0;
    }
    printf("%d/%2d/%2d\n", y, m, d);
    return 0;
}
