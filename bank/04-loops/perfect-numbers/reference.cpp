#include <iostream>
using namespace std;

int main()
{
    int n;
    cin >> n;
    bool found = false;
    for (int m = 2; m <= n; m++) {
        int sum = 0;
        for (int d = 1; d < m; d++) {
            if (m % d == 0) {
                sum += d;
            }
        }
        if (sum != m) {
            continue;
        }
        found = true;
        cout << m << " =";
        for (int d = 1; d < m; d++) {
            if (m % d == 0) {
                cout << (d == 1 ? " " : " + ") << d;
            }
        }
        cout << '\n';
    }
    if (!found) {
        cout << "无\n";
    }
    return 0;
}
