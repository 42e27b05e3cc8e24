#include <stdio.h>
#include <string.h>

int main(void)
{
    char line[1005];
    if (fgets(line, sizeof line, stdin) == NULL) {
        line[0] = '\0';
    }
    line[strcspn(line, "\r\n")] = '\0';
    char *w = line;
    for (const char *r = line; *r != '\0'; r++) {
        if (*r != ' ' || r == line || r[-1] != ' ') {
            *w++ = *r;
        }
    }
    while (w > line && w[-1] == ' ') {
        w--;
    }
    *w = '\0';
    printf("%d\n[%s]\n", (int)strlen(line), line);
    return 0;
}
