#include <iomanip>
#include <iostream>
#include <string>
using namespace std;

int main()
{
    int n;
    if (!(cin >> n)) {
        return 0;
    }
    float total = 0;
    cout << fixed << setprecision(2);
    for (int i = 0; i < n; i++) {
        string name;
        int qty;
        float price;
        cin >> name >> qty >> price;
        float sub = qty * price;
        total += sub;
        cout << name << " x" << qty << " = " << sub << '\n';
    }
    cout << "TOTAL " << total << '\n';
    return 0;
}
