#include <stdio.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    /* 在这里写代码：逐行读入 姓名,语文,数学,英语 */

    return 0;
}
