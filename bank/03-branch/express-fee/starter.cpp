#include <iostream>
using namespace std;

int main()
{
    // 在这里写代码：先判断是否超过首重，再算超出部分

    return 0;
}
