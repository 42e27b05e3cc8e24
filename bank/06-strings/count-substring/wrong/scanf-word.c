#include <stdio.h>
#include <string.h>

int main(void)
{
    char text[1005], word[105];
    if (scanf("%1004s %104s", text, word) != 2) {
        printf("0\n");
        return 0;
    }
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
