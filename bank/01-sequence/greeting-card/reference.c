#include <stdio.h>

int main(void)
{
    char name[32];
    scanf("%31s", name);
    printf("Hello, %s!\n", name);
    printf("Welcome to the club.\n");
    return 0;
}
