#include <stdio.h>

int main(void)
{
    int s;
    if (scanf("%d", &s) != 1) {
        return 0;
    }
    printf("%02d:%02d:%02d\n", s / 3600 % 24, s / 60 % 60, s % 60);
    return 0;
}
