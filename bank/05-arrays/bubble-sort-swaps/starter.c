#include <stdio.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    int h[1000];
    for (int i = 0; i < n; i++) {
        scanf("%d", &h[i]);
    }
    /* 在这里写代码：冒泡排序，并数一数交换了几次 */

    return 0;
}
