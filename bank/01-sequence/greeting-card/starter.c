#include <stdio.h>

int main(void)
{
    /* 在这里写代码：读入名字，按格式输出两行 */

    return 0;
}
