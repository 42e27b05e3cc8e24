#include <iostream>
using namespace std;

int main()
{
    // 在这里写代码：一直读到输入结束，同时统计件数、总价和最大值

    return 0;
}
