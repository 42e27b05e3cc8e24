#include <iostream>
#include <string>
using namespace std;

int R, C;
string grid[50];

// 在这里写代码：写一个递归函数 fill(r, c)，返回从 (r, c) 出发能走到的水格数

int main()
{
    cin >> R >> C;
    for (int i = 0; i < R; i++) {
        cin >> grid[i];
    }

    return 0;
}
