#include <iostream>
using namespace std;

int main()
{
    // 在这里写代码：写递归函数 power_mod(a, b, m)

    return 0;
}
