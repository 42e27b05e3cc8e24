#include <stdio.h>
#include <string.h>

int main(void)
{
    static char line[1100];
    int n;
    if (fgets(line, sizeof line, stdin) == NULL) {
        return 0;
    }
    line[strcspn(line, "\r\n")] = '\0';
    for (n = (int)strlen(line) - 1; n >= 0; n--) {
        putchar(line[n]);
    }
    putchar('\n');
    return 0;
}
