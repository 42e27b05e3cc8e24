#include <iostream>
using namespace std;

int main()
{
    int n;
    cin >> n;
    const int notes[5] = {50, 20, 10, 5, 1};
    for (int i = 0; i < 5; i++) {
        cout << n / notes[i] << (i < 4 ? ' ' : '\n');
        n %= notes[i];
    }
    return 0;
}
