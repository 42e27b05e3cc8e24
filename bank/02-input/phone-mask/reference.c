#include <stdio.h>

int main(void)
{
    int n;
    scanf("%d", &n);
    for (int i = 0; i < n; i++) {
        char head[4], middle[5], tail[5];
        scanf("%3s%4s%4s", head, middle, tail);
        printf("%s****%s\n", head, tail);
    }
    return 0;
}
