#include <stdio.h>
#include <string.h>

int main(void)
{
    char text[1005], word[105];
    /* 在这里写代码：用 fgets 读入两行，去掉行尾的换行，再逐个位置比较 */
    (void)text;
    (void)word;
    return 0;
}
