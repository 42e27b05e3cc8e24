#include <stdio.h>

int main(void)
{
    /* 在这里写代码：提示，可以把手机号当成字符串读入，
       也可以用 scanf 的宽度，例如 %3s 只读 3 个字符 */

    return 0;
}
