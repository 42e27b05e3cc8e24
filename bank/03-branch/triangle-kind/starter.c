#include <stdio.h>

int main(void)
{
    /* 在这里写代码：先排除不能构成三角形的情况，再依次判断 */

    return 0;
}
