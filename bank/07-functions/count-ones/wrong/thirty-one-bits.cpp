#include <iostream>
using namespace std;

int count_ones(unsigned int x)
{
    int count = 0;
    for (int i = 0; i < 31; i++) {
        if ((x >> i) & 1u) {
            count++;
        }
    }
    return count;
}

int lowest_one(unsigned int x)
{
    if (x == 0) {
        return -1;
    }
    int pos = 0;
    while ((x & 1u) == 0) {
        x >>= 1;
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
        unsigned int x = (unsigned int)v;
        cout << count_ones(x) << ' ' << lowest_one(x) << '\n';
    }
    return 0;
}
