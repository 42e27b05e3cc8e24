#include <cstdio>
#include <iostream>
using namespace std;

int main()
{
    long long p, total = 0, most = 0;
    int count = 0;
    while (cin >> p) {
        count++;
        total += p;
        if (p > most) {
            most = p;
        }
    }
    printf("%d %lld.%02lld %lld\n", count, total / 100, total % 100, most);
    return 0;
}
