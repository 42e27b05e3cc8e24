#include <stdio.h>
#include <string.h>

int main(void)
{
    static char line[1100];
    char *words[100];
    int n = 0;
    char *p;
    if (fgets(line, sizeof line, stdin) == NULL) {
        return 0;
    }
    line[strcspn(line, "\r\n")] = '\0';
    p = line;
    while (*p != '\0') {
        while (*p == ' ') {
            *p++ = '\0';
        }
        if (*p == '\0') {
            break;
        }
        if (n < 100) {
            words[n++] = p;
        }
        while (*p != '\0' && *p != ' ') {
            p++;
        }
    }
    while (n > 0) {
        n--;
        printf("%s%s", words[n], n > 0 ? " " : "\n");
    }
    return 0;
}
