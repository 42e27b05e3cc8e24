#include <stdio.h>
#include <string.h>

int main(void)
{
    char s[10];
    if (scanf("%9s", s) != 1) {
        return 0;
    }
    if ((s[strlen(s) - 1] - '0') % 2 == 0) {
        printf("even\n");
    } else {
        printf("odd\n");
    }
    return 0;
}
