#include <stdio.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        char code[8];
        if (scanf("%7s", code) != 1) {
            break;
        }
        int v[3];
        for (int j = 0; j < 3; j++) {
            int hi = code[1 + 2 * j], lo = code[2 + 2 * j];
            hi = hi >= 'A' ? hi - 'A' + 10 : hi - '0';
            lo = lo >= 'A' ? lo - 'A' + 10 : lo - '0';
            v[j] = hi * 16 + lo;
        }
        printf("%d %d %d #%02X%02X%02X\n", v[0], v[1], v[2], 255 - v[0], 255 - v[1], 255 - v[2]);
    }
    return 0;
}
