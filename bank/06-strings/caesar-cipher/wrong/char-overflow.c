#include <stdio.h>

int main(void)
{
    int k, i;
    char s[256];
    if (scanf("%d", &k) != 1) {
        return 0;
    }
    getchar();
    if (fgets(s, sizeof s, stdin) == NULL) {
        return 0;
    }
    k = (k % 26 + 26) % 26;
    for (i = 0; s[i] != '\0'; i++) {
        if (s[i] >= 'a' && s[i] <= 'z') {
            s[i] = (char)(s[i] + k);
            if (s[i] > 'z') {
                s[i] = (char)(s[i] - 26);
            }
        } else if (s[i] >= 'A' && s[i] <= 'Z') {
            s[i] = (char)(s[i] + k);
            if (s[i] > 'Z') {
                s[i] = (char)(s[i] - 26);
            }
        }
    }
    printf("%s", s);
    return 0;
}
