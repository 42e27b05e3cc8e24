#include <iostream>
using namespace std;

int main()
{
    // 在这里写代码：用 map 按类别和商品分别汇总

    return 0;
}
