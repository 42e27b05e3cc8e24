#include <iostream>
using namespace std;

int main()
{
    // 在这里写代码：定义 wallet 结构体，写 deposit 和 spend 两个成员函数

    return 0;
}
