#include <iomanip>
#include <iostream>
#include <string>
using namespace std;

int main()
{
    int n;
    cin >> n;
    double total = 0;
    cout << fixed << setprecision(2);
    for (int i = 0; i < n; i++) {
        string name;
        int qty;
        double price;
        cin >> name >> qty >> price;
        double sub = qty * price;
        total += sub;
        cout << name << " x" << qty << " = " << sub << '\n';
    }
    cout << "TOTAL " << total << '\n';
    return 0;
}
