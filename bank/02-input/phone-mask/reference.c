#include <stdio.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        char head[4], middle[5], tail[5];
        if (scanf("%3s%4s%4s", head, middle, tail) != 3) {
            break;
        }
        printf("%s****%s\n", head, tail);
    }
    return 0;
}
