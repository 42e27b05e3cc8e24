#include <stdio.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        char a, b;
        if (scanf(" %c %c", &a, &b) != 2) {
            break;
        }
        /* 在这里写代码：判断这一局的胜负，并累计比分 */
    }
    return 0;
}
