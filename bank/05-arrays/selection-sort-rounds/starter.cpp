#include <iostream>
using namespace std;

int main()
{
    int n;
    cin >> n;
    int a[20];
    for (int i = 0; i < n; i++) {
        cin >> a[i];
    }
    // 在这里写代码：做 n - 1 轮，每轮结束后输出整个数组

    return 0;
}
