#include <stdio.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    int h[1000];
    for (int i = 0; i < n; i++) {
        if (scanf("%d", &h[i]) != 1) {
            return 0;
        }
    }
    int swaps = 0;
    for (int i = 0; i < n - 1; i++) {
        int m = i;
        for (int j = i + 1; j < n; j++) {
            if (h[j] < h[m]) {
                m = j;
            }
        }
        if (m != i) {
            int t = h[i];
            h[i] = h[m];
            h[m] = t;
            swaps++;
        }
    }
    printf("%d\n", swaps);
    for (int i = 0; i < n; i++) {
        printf("%d%c", h[i], i + 1 < n ? ' ' : '\n');
    }
    return 0;
}
