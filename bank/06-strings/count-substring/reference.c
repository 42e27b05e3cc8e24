#include <stdio.h>
#include <string.h>

/* Drops the line end that fgets keeps (and a CR before it). */
void chomp(char *s)
{
    size_t len = strlen(s);
    while (len > 0 && (s[len - 1] == '\n' || s[len - 1] == '\r')) {
        s[--len] = '\0';
    }
}

int main(void)
{
    char text[1005], word[105];
    if (fgets(text, sizeof text, stdin) == NULL || fgets(word, sizeof word, stdin) == NULL) {
        return 0;
    }
    chomp(text);
    chomp(word);
    size_t n = strlen(text), m = strlen(word);
    int count = 0;
    for (size_t i = 0; i + m <= n; i++) {
        if (strncmp(text + i, word, m) == 0) {
            count++;
        }
    }
    printf("%d\n", count);
    return 0;
}
