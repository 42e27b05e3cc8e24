#include <stdio.h>

int main(void)
{
    int y, m, d;
    if (scanf("%d-%d-%d", &y, &m, &d) != 3) {
        return 0;
    }
    printf("%d/%02d/%02d\n", y, d, m);
    return 0;
}
