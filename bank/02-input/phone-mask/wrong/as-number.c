#include <stdio.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        long long phone;
        if (scanf("%lld", &phone) != 1) {
            break;
        }
        printf("%lld****%lld\n", phone / 100000000, phone % 10000);
    }
    return 0;
}
