#include <stdio.h>

struct student {
    char name[32];
    int age;
    double height;
};

int main(void)
{
    struct student s;
    /* 在这里写代码：读入信息存进 s，再按格式输出 */

    return 0;
}
