#include <stdio.h>

int main(void)
{
    /* 在这里写代码：逐个字符判断属于哪一类（可以用 ctype.h） */

    return 0;
}
