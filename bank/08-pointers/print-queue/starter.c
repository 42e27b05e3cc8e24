#include <stdio.h>

int main(void)
{
    /* 在这里写代码：结点结构体已给出思路：head 指向队首，tail 指向队尾 */

    return 0;
}
