#include <iomanip>
#include <iostream>
using namespace std;

int main()
{
    double d, c, p;
    int n;
    cin >> d >> c >> p >> n;
    double litres = d * c / 100;
    double cost = litres * p;
    cout << fixed << setprecision(9) << litres << ' ' << cost << ' ' << cost / n << '\n';
    return 0;
}
