#include <stdio.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    int c[30][30];
    /* 在这里写代码：一行一行填好二维数组，再输出，每行以 "行号:" 开头 */
    (void)c;
    return 0;
}
