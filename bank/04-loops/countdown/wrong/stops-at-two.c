#include <stdio.h>

int main(void)
{
    int n, i;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (i = n; i > 1; i--) {
        printf("%d\n", i);
    }
    printf("Go!\n");
    return 0;
}
