#include <stdio.h>

int main(void)
{
    /* 在这里写代码：可以维护窗口内的和，每次加入一个、移出一个 */

    return 0;
}
