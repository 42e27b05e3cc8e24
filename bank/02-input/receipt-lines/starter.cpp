#include <iostream>
using namespace std;

int main()
{
    // 在这里写代码：读入 n 行商品，逐行输出小计，最后输出合计

    return 0;
}
