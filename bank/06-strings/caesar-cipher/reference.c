#include <stdio.h>

int main(void)
{
    int k, i;
    char s[256];
    scanf("%d", &k);
    getchar();
    if (fgets(s, sizeof s, stdin) == NULL) {
        return 0;
    }
    k = (k % 26 + 26) % 26;
    for (i = 0; s[i] != '\0'; i++) {
        if (s[i] >= 'a' && s[i] <= 'z') {
            s[i] = (char)('a' + (s[i] - 'a' + k) % 26);
        } else if (s[i] >= 'A' && s[i] <= 'Z') {
            s[i] = (char)('A' + (s[i] - 'A' + k) % 26);
        }
    }
    printf("%s", s);
    return 0;
}
