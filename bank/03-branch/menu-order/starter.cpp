#include <iostream>
using namespace std;

int main()
{
    // 在这里写代码：用 switch 查出每种饮品的单价

    return 0;
}
