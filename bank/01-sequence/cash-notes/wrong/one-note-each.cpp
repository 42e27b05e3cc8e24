#include <iostream>
using namespace std;

int main()
{
    int n;
    if (!(cin >> n)) {
        return 0;
    }
    const int notes[5] = {50, 20, 10, 5, 1};
    for (int i = 0; i < 5; i++) {
        int k = n >= notes[i] ? 1 : 0;
        cout << k << (i < 4 ? ' ' : '\n');
        n -= k * notes[i];
    }
    return 0;
}
