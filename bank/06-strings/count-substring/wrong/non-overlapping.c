#include <stdio.h>
#include <string.h>

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
    int count = 0;
    const char *p = text;
    while ((p = strstr(p, word)) != NULL) {
        count++;
        p += strlen(word);
    }
    printf("%d\n", count);
    return 0;
}
