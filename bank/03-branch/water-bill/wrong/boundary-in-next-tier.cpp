#include <iomanip>
#include <iostream>
using namespace std;

int main()
{
    int n;
    if (!(cin >> n)) {
        return 0;
    }
    double total = 0;
    cout << fixed << setprecision(2);
    for (int i = 0; i < n; i++) {
        int used;
        cin >> used;
        double cost;
        if (used >= 260) {
            cost = 180 * 3.45 + 80 * 4.83 + (used - 259) * 5.83;
        } else if (used >= 180) {
            cost = 180 * 3.45 + (used - 179) * 4.83;
        } else {
            cost = used * 3.45;
        }
        cout << cost << '\n';
        total += cost;
    }
    cout << total << '\n';
    return 0;
}
