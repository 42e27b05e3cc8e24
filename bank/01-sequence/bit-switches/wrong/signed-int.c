#include <stdio.h>

int main(void)
{
    int state, k;
    if (scanf("%d %d", &state, &k) != 2) {
        return 0;
    }
    int bit = 1 << k;
    printf("%d %d %d %d\n", (state >> k) & 1, state | bit, state & ~bit, state ^ bit);
    return 0;
}
