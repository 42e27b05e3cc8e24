#include <stdio.h>

int main(void)
{
    /* 在这里写代码：先求出本月天数，再判断是否进位到下个月、下一年 */

    return 0;
}
