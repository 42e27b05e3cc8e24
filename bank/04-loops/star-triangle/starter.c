#include <stdio.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    /* 在这里写代码：外层循环控制行，内层循环输出这一行的星号 */

    return 0;
}
