#include <stdio.h>
#include <string.h>

int main(void)
{
    char a[1005], b[1005];
    if (scanf("%1004s %1004s", a, b) != 2) {
        return 0;
    }
    /* 在这里写代码：从两个字符串的末尾（个位）开始逐位相加 */

    return 0;
}
