#include <iomanip>
#include <iostream>
using namespace std;

double bill(int used)
{
    double cost = 0;
    if (used > 260) {
        cost += (used - 260) * 5.83;
        used = 260;
    }
    if (used > 180) {
        cost += (used - 180) * 4.83;
        used = 180;
    }
    return cost + used * 3.45;
}

int main()
{
    int n;
    cin >> n;
    double total = 0;
    cout << fixed << setprecision(2);
    for (int i = 0; i < n; i++) {
        int used;
        cin >> used;
        double cost = bill(used);
        cout << cost << '\n';
        total += cost;
    }
    cout << total << '\n';
    return 0;
}
