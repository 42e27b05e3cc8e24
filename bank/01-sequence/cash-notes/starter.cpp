#include <iostream>
using namespace std;

int main()
{
    // 在这里写代码：从 50 元开始，依次算出每种钞票的张数

    return 0;
}
