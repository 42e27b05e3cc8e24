#include <stdio.h>

int main(void)
{
    int a, b;
    if (scanf("%d %d", &a, &b) != 2) {
        return 0;
    }
    int found = 0;
    for (int n = a; n <= b; n++) {
        int sum = 0;
        for (int t = n; t > 0; t /= 10) {
            int d = t % 10;
            sum += d * d * d;
        }
        if (sum == n) {
            printf("%d\n", n);
            found = 1;
        }
    }
    if (!found) {
        printf("无\n");
    }
    return 0;
}
