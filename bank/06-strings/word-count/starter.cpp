#include <iostream>
using namespace std;

int main()
{
    // 在这里写代码：用 cin >> 逐个读单词

    return 0;
}
