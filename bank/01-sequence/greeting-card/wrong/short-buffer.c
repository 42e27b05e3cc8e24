#include <stdio.h>

int main(void)
{
    char name[10];
    if (scanf("%9s", name) != 1) {
        return 0;
    }
    printf("Hello, %s!\n", name);
    printf("Welcome to the club.\n");
    return 0;
}
