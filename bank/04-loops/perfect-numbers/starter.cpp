#include <iostream>
using namespace std;

int main()
{
    int n;
    cin >> n;
    // 在这里写代码：枚举 1～n，求每个数的真因数之和

    return 0;
}
