#include <stdio.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        int phone;
        if (scanf("%d", &phone) != 1) {
            break;
        }
        printf("%d****%04d\n", phone / 100000000, phone % 10000);
    }
    return 0;
}
