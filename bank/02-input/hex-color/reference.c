#include <stdio.h>

int main(void)
{
    int n;
    scanf("%d", &n);
    for (int i = 0; i < n; i++) {
        unsigned int r, g, b;
        scanf(" #%2x%2x%2x", &r, &g, &b);
        printf("%u %u %u #%02X%02X%02X\n", r, g, b, 255 - r, 255 - g, 255 - b);
    }
    return 0;
}
