#include <iostream>
using namespace std;

int n, T;
int price[20];

// 在这里写代码：写一个递归函数 choose(i, sum, count)，决定第 i 件商品买不买

int main()
{
    cin >> n >> T;
    for (int i = 0; i < n; i++) {
        cin >> price[i];
    }

    return 0;
}
