#include <iostream>
using namespace std;

int count_ones(int x)
{
    int count = 0;
    while (x != 0) {
        if (x % 2 == 1) {
            count++;
        }
        x /= 2;
    }
    return count;
}

int lowest_one(int x)
{
    if (x == 0) {
        return -1;
    }
    int pos = 0;
    while (x % 2 == 0) {
        x /= 2;
        pos++;
    }
    return pos;
}

int main()
{
    int n;
    if (!(cin >> n)) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        int v;
        cin >> v;
        cout << count_ones(v) << ' ' << lowest_one(v) << '\n';
    }
    return 0;
}
