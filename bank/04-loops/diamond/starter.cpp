#include <iostream>
using namespace std;

int main()
{
    int n;
    cin >> n;
    // 在这里写代码：先画上半部分（含中间最宽的一行），再画下半部分；空的位置画 .

    return 0;
}
