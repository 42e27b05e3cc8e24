#include <stdio.h>

int main(void)
{
    /* 在这里写代码：逐个字符读入，小写字母改为大写 */

    return 0;
}
