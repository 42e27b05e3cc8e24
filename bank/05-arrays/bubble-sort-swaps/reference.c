#include <stdio.h>

int main(void)
{
    int n;
    scanf("%d", &n);
    int h[1000];
    for (int i = 0; i < n; i++) {
        scanf("%d", &h[i]);
    }
    int swaps = 0;
    for (int pass = 0; pass < n - 1; pass++) {
        for (int i = 0; i + 1 < n - pass; i++) {
            if (h[i] > h[i + 1]) {
                int t = h[i];
                h[i] = h[i + 1];
                h[i + 1] = t;
                swaps++;
            }
        }
    }
    printf("%d\n", swaps);
    for (int i = 0; i < n; i++) {
        printf("%d%c", h[i], i + 1 < n ? ' ' : '\n');
    }
    return 0;
}
