#include <ctype.h>
#include <stdio.h>

int main(void)
{
    char s[256];
    int i, up = 0, low = 0, dig = 0, other = 0;
    if (scanf("%255s", s) != 1) {
        s[0] = '\0';
    }
    for (i = 0; s[i] != '\0'; i++) {
        if (isupper((unsigned char)s[i])) {
            up++;
        } else if (islower((unsigned char)s[i])) {
            low++;
        } else if (isdigit((unsigned char)s[i])) {
            dig++;
        } else {
            other++;
        }
    }
    printf("%d %d %d %d\n", up, low, dig, other);
    return 0;
}
