#include <stdio.h>
#include <string.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        char id[32];
        if (scanf("%31s", id) != 1) {
            break;
        }
        /* 在这里写代码：先检查长度和每一位，再算校验码 */
    }
    return 0;
}
