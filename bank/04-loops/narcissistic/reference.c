#include <stdio.h>

int is_armstrong(int n)
{
    int digits = 0;
    for (int t = n; t > 0; t /= 10) {
        digits++;
    }
    int sum = 0;
    for (int t = n; t > 0; t /= 10) {
        int p = 1;
        for (int i = 0; i < digits; i++) {
            p *= t % 10;
        }
        sum += p;
    }
    return sum == n;
}

int main(void)
{
    int a, b;
    scanf("%d %d", &a, &b);
    int found = 0;
    for (int n = a; n <= b; n++) {
        if (is_armstrong(n)) {
            printf("%d\n", n);
            found = 1;
        }
    }
    if (!found) {
        printf("无\n");
    }
    return 0;
}
