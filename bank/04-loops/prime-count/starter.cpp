#include <iostream>
using namespace std;

int main()
{
    // 在这里写代码：对区间里的每个数判断是否为质数

    return 0;
}
