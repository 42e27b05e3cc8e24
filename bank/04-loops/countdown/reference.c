#include <stdio.h>

int main(void)
{
    int n, i;
    scanf("%d", &n);
    for (i = n; i >= 1; i--) {
        printf("%d\n", i);
    }
    printf("Go!\n");
    return 0;
}
