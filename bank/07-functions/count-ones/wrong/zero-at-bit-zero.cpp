#include <iostream>
using namespace std;

int count_ones(unsigned int x)
{
    int count = 0;
    while (x != 0) {
        count += x & 1u;
        x >>= 1;
    }
    return count;
}

int lowest_one(unsigned int x)
{
    int pos = 0;
    while (pos < 32 && ((x >> pos) & 1u) == 0) {
        pos++;
    }
    return pos == 32 ? 0 : pos;
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
        unsigned int x = (unsigned int)v;
        cout << count_ones(x) << ' ' << lowest_one(x) << '\n';
    }
    return 0;
}
