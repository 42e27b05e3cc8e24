#include <ctype.h>
#include <stdio.h>

int main(void)
{
    char s[256];
    int i;
    if (scanf("%255s", s) != 1) {
        return 0;
    }
    for (i = 0; s[i] != '\0'; i++) {
        s[i] = (char)toupper((unsigned char)s[i]);
    }
    printf("%s\n", s);
    return 0;
}
