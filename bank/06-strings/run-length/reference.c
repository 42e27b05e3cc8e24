#include <stdio.h>

int main(void)
{
    static char s[10005];
    int i = 0, j;
    scanf("%10004s", s);
    while (s[i] != '\0') {
        j = i;
        while (s[j] == s[i]) {
            j++;
        }
        printf("%c%d", s[i], j - i);
        i = j;
    }
    printf("\n");
    return 0;
}
