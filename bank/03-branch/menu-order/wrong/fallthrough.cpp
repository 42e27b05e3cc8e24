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
        char code, size;
        int cups;
        cin >> code >> size >> cups;
        int price = 7;
        switch (code) {
        case 'A':
            price = 12;
            break;
        case 'B':
            price = 15;
        case 'C':
            price = 9;
            break;
        case 'D':
            price = 18;
            break;
        }
        int each = price + (size == 'L' ? 3 : 0);
        cout << each * cups << '\n';
        total += each * cups;
    }
    if (total >= 100) {
        total -= 10;
    }
    cout << total << '\n';
    return 0;
}
