#include <stdio.h>

int main(void)
{
    static char s[10005];
    int i = 0, j;
    if (scanf("%10004s", s) != 1) {
        return 0;
    }
    while (s[i] != '\0') {
        j = i;
        while (s[j] == s[i]) {
            j++;
        }
        printf("%c%c", s[i], (char)('0' + j - i));
        i = j;
    }
    printf("\n");
    return 0;
}
