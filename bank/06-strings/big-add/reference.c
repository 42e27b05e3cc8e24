#include <stdio.h>
#include <string.h>

int main(void)
{
    char a[1005], b[1005], sum[1006];
    scanf("%1004s %1004s", a, b);
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
