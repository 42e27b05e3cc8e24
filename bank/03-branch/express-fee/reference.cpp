#include <iostream>
using namespace std;

int main()
{
    double w;
    cin >> w;
    // work in hundredths of a kilogram so 1.5 is exactly 150
    long g = (long)(w * 100 + 0.5);
    long fee = 12;
    if (g > 100) {
        long extra = g - 100;
        fee += (extra + 49) / 50 * 2;
    }
    cout << fee << '\n';
    return 0;
}
