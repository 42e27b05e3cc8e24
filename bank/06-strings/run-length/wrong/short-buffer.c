#include <stdio.h>

int main(void)
{
    static char s[1001];
    int i = 0, j;
    if (scanf("%1000s", s) != 1) {
        return 0;
    }
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
