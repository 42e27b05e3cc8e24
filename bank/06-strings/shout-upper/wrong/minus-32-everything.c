#include <ctype.h>
#include <stdio.h>

int main(void)
{
    int c;
    while ((c = getchar()) != EOF) {
        putchar(c == '\n' || c == ' ' ? c : c - 32);
    }
    return 0;
}
