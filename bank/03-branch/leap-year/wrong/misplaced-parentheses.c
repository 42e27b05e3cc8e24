#include <stdio.h>

int main(void)
{
    int y;
    if (scanf("%d", &y) != 1) {
        return 0;
    }
    if ((y % 4 == 0 || y % 400 == 0) && y % 100 != 0) {
        printf("29\n");
    } else {
        printf("28\n");
    }
    return 0;
}
