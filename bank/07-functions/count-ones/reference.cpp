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
    cin >> n;
    for (int i = 0; i < n; i++) {
        int v;
        cin >> v;
        unsigned int x = (unsigned int)v;
        cout << count_ones(x) << ' ' << lowest_one(x) << '\n';
    }
    return 0;
}
