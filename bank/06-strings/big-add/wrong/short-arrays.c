#include <stdio.h>
#include <string.h>

int main(void)
{
    char a[205], b[205], sum[206];
    if (scanf("%204s %204s", a, b) != 2) {
        return 0;
    }
    int i = (int)strlen(a) - 1, j = (int)strlen(b) - 1, k = 0, carry = 0;
    while (i >= 0 || j >= 0 || carry) {
        int d = carry;
        if (i >= 0) {
            d += a[i--] - '0';
        }
        if (j >= 0) {
            d += b[j--] - '0';
        }
        sum[k++] = (char)('0' + d % 10);
        carry = d / 10;
    }
    while (k > 0) {
        putchar(sum[--k]);
    }
    putchar('\n');
    return 0;
}
