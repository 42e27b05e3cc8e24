#include <iostream>
using namespace std;

int main()
{
    int a, b, h, s, k;
    if (!(cin >> a >> b >> h >> s >> k)) {
        return 0;
    }
    int area = 2 * (a + b) * h - s;
    cout << area << ' ' << 2 * area / k + 1 << '\n';
    return 0;
}
