#include <stdio.h>
#include <string.h>

int main(void)
{
    char line[1005];
    if (fgets(line, sizeof line, stdin) == NULL) {
        line[0] = '\0';
    }
    /* 在这里写代码：去掉行尾换行符，再用读指针和写指针原地整理 */

    printf("%d\n[%s]\n", (int)strlen(line), line);
    return 0;
}
