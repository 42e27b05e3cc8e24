#include <stdio.h>
#include <string.h>

char letters[7];
int n;

/* 在这里写代码：写一个递归函数，决定第 pos 位放哪个字母 */

int main(void)
{
    if (scanf("%6s", letters) != 1) {
        return 0;
    }
    n = (int)strlen(letters);

    return 0;
}
