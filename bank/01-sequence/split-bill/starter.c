#include <stdio.h>

int main(void)
{
    int m, n;
    if (scanf("%d %d", &m, &n) != 2) {
        return 0;
    }
    /* 在这里写代码：算出每人付多少元、多收多少元，然后输出 */

    return 0;
}
