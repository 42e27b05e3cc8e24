#include <stdio.h>

int main(void)
{
    int y;
    if (scanf("%d", &y) != 1) return 0;
    printf(y % 4 == 0 ? "29\n" : "28\n");
    return 0;
}
