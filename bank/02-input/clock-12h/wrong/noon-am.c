#include <stdio.h>

int main(void)
{
    int h, m;
    while (scanf("%d:%d", &h, &m) == 2) {
        int h12 = h % 12 == 0 ? 12 : h % 12;
        printf("%d:%02d %s\n", h12, m, h <= 12 ? "AM" : "PM");
    }
    return 0;
}
