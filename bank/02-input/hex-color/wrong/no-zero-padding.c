#include <stdio.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        unsigned int r, g, b;
        if (scanf(" #%2x%2x%2x", &r, &g, &b) != 3) {
            break;
        }
        printf("%u %u %u #%X%X%X\n", r, g, b, 255 - r, 255 - g, 255 - b);
    }
    return 0;
}
