#include <stdio.h>

int main(void)
{
    /* 在这里写代码：读入长和宽，输出周长和面积 */

    return 0;
}
