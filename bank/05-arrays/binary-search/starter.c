#include <stdio.h>

int main(void)
{
    int n, q;
    int id[500];
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        scanf("%d", &id[i]);
    }
    if (scanf("%d", &q) != 1) {
        return 0;
    }
    for (int k = 0; k < q; k++) {
        int x;
        scanf("%d", &x);
        /* 在这里写代码：二分查找 x，输出翻看的位置和结果（注意位置从 1 开始） */
    }
    return 0;
}
