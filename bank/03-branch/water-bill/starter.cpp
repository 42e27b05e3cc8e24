#include <iostream>
#include <iomanip>
using namespace std;

int main()
{
    // 在这里写代码：分三档计算每户的水费

    return 0;
}
