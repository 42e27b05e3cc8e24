#include <ctype.h>
#include <stdio.h>

int main(void)
{
    char s[100], t[100];
    int n = 0, i;
    if (fgets(s, sizeof s, stdin) == NULL) {
        s[0] = '\0';
    }
    for (i = 0; s[i] != '\0'; i++) {
        if (isalpha((unsigned char)s[i])) {
            t[n++] = (char)tolower((unsigned char)s[i]);
        }
    }
    for (i = 0; i < n / 2; i++) {
        if (t[i] != t[n - 1 - i]) {
            printf("no\n");
            return 0;
        }
    }
    printf("yes\n");
    return 0;
}
