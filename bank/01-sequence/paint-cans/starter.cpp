#include <iostream>
using namespace std;

int main()
{
    // 在这里写代码：先算四面墙的面积，减去门窗，再算要几桶漆

    return 0;
}
