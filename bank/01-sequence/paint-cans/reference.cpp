#include <iostream>
using namespace std;

int main()
{
    int a, b, h, s, k;
    cin >> a >> b >> h >> s >> k;
    int area = 2 * (a + b) * h - s;
    int cans = (2 * area + k - 1) / k;
    cout << area << ' ' << cans << '\n';
    return 0;
}
