#include <stdio.h>

int main(void)
{
    unsigned int state;
    int k;
    scanf("%u %d", &state, &k);
    unsigned int bit = 1u << k;
    printf("%u %u %u %u\n", (state >> k) & 1u, state | bit, state & ~bit, state ^ bit);
    return 0;
}
