#include <iostream>
using namespace std;

int main()
{
    int n;
    if (!(cin >> n)) {
        return 0;
    }
    int total = 0;
    for (int i = 0; i < n; i++) {
        int used;
        cin >> used;
        int cost;
        if (used > 260) {
            cost = 180 * 3 + 80 * 4 + (used - 260) * 5;
        } else if (used > 180) {
            cost = 180 * 3 + (used - 180) * 4;
        } else {
            cost = used * 3;
        }
        cout << cost << '\n';
        total += cost;
    }
    cout << total << '\n';
    return 0;
}
