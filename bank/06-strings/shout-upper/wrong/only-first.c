#include <ctype.h>
#include <stdio.h>
int main(void)
{
    char line[256];
    if (!fgets(line, sizeof line, stdin)) return 0;
    line[0] = (char)toupper((unsigned char)line[0]);
    fputs(line, stdout);
    return 0;
}
