#include <iostream>
using namespace std;

int main()
{
    // 在这里写代码：用数组（或 vector）给每位候选人计数

    return 0;
}
