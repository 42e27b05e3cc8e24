#include <stdio.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        int score;
        if (scanf("%d", &score) != 1) {
            break;
        }
        /* 在这里写代码：用 switch (score / 10) 输出等级 */
    }
    printf("\n");
    return 0;
}
