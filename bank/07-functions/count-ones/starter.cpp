#include <iostream>
using namespace std;

int count_ones(unsigned int x)
{
    // 在这里写代码
    return 0;
}

int lowest_one(unsigned int x)
{
    // 在这里写代码
    return -1;
}

int main()
{
    int n;
    cin >> n;
    for (int i = 0; i < n; i++) {
        int v;
        cin >> v;
        unsigned int x = (unsigned int)v;
        cout << count_ones(x) << ' ' << lowest_one(x) << '\n';
    }
    return 0;
}
