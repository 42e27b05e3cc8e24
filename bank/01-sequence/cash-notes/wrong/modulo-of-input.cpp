#include <iostream>
using namespace std;

int main()
{
    int n;
    if (!(cin >> n)) {
        return 0;
    }
    cout << n / 50 << ' ' << n % 50 / 20 << ' ' << n % 20 / 10 << ' ' << n % 10 / 5 << ' ' << n % 5 << '\n';
    return 0;
}
