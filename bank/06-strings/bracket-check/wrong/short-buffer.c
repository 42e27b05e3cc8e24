#include <stdio.h>

int main(void)
{
    static char s[1000];
    static int stack[10005];
    int top = 0, i;
    if (fgets(s, sizeof s, stdin) == NULL) {
        s[0] = '\0';
    }
    for (i = 0; s[i] != '\0' && s[i] != '\n'; i++) {
        char c = s[i];
        if (c == '(' || c == '[' || c == '{') {
            stack[top++] = i;
        } else if (c == ')' || c == ']' || c == '}') {
            char want = c == ')' ? '(' : c == ']' ? '[' : '{';
            if (top == 0 || s[stack[top - 1]] != want) {
                printf("ERROR %d\n", i + 1);
                return 0;
            }
            top--;
        }
    }
    if (top > 0) {
        printf("ERROR %d\n", stack[0] + 1);
    } else {
        printf("OK\n");
    }
    return 0;
}
