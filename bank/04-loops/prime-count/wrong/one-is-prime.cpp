#include <iostream>
using namespace std;
int main()
{
    int a, b, count = 0;
    cin >> a >> b;
    for (int n = a; n <= b; n++) {
        bool p = true;
        for (int d = 2; d * d <= n; d++) if (n % d == 0) p = false;
        if (p) count++;
    }
    cout << count << '\n';
    return 0;
}
