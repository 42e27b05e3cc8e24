#include <iostream>
using namespace std;

int main()
{
    int a, b, h, s, k;
    if (!(cin >> a >> b >> h >> s >> k)) {
        return 0;
    }
    int area = 2 * (a + b) * h - s;
    int per_coat = (area + k - 1) / k;
    cout << area << ' ' << 2 * per_coat << '\n';
    return 0;
}
