#include <stdio.h>

int my_strlen(const char *s)
{
    const char *p = s;
    while (*p != '\0') {
        p++;
    }
    return (int)(p - s);
}

void my_strcpy(char *dst, const char *src)
{
    while ((*dst++ = *src++) != '\0') {
    }
}

int my_strcmp(const char *a, const char *b)
{
    while (*a != '\0' && *a == *b) {
        a++;
        b++;
    }
    return (unsigned char)*a - (unsigned char)*b;
}

/* Cuts the line end that fgets keeps (LF, or CR LF). */
void chomp(char *s)
{
    char *end = s + my_strlen(s);
    while (end > s && (end[-1] == '\n' || end[-1] == '\r')) {
        *--end = '\0';
    }
}

int main(void)
{
    char a[205], b[205], joined[410];
    if (fgets(a, sizeof a, stdin) == NULL || fgets(b, sizeof b, stdin) == NULL) {
        return 0;
    }
    chomp(a);
    chomp(b);
    int la = my_strlen(a), lb = my_strlen(b);
    int cmp = my_strcmp(a, b);
    my_strcpy(joined, a);
    my_strcpy(joined + la, b);
    printf("%d %d\n%d\n%s\n", la, lb, cmp < 0 ? -1 : (cmp > 0 ? 1 : 0), joined);
    return 0;
}
