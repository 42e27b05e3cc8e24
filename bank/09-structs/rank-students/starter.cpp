#include <iostream>
using namespace std;

int main()
{
    // 在这里写代码：定义结构体，写比较函数，再用 sort

    return 0;
}
