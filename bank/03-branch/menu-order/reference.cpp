#include <iostream>
using namespace std;

int price_of(char code)
{
    switch (code) {
    case 'A':
        return 12;
    case 'B':
        return 15;
    case 'C':
        return 9;
    case 'D':
        return 18;
    default:
        return 7;
    }
}

int main()
{
    int n;
    cin >> n;
    int total = 0;
    for (int i = 0; i < n; i++) {
        char code, size;
        int cups;
        cin >> code >> size >> cups;
        int each = price_of(code) + (size == 'L' ? 3 : 0);
        cout << each * cups << '\n';
        total += each * cups;
    }
    if (total >= 100) {
        total -= 10;
    }
    cout << total << '\n';
    return 0;
}
