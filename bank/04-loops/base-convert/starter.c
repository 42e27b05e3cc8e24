#include <stdio.h>

int main(void)
{
    int p, q;
    char s[65];
    if (scanf("%d %64s %d", &p, s, &q) != 3) {
        return 0;
    }
    /* 在这里写代码：先求出 s 的值，再换成 q 进制输出 */

    return 0;
}
