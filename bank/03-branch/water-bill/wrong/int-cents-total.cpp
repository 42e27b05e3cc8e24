#include <cstdio>
#include <iostream>
using namespace std;

// Every bill in whole cents, the total too: exact, but an int of cents holds only
// about 21 million yuan.
int bill_cents(int used)
{
    int cents = 0;
    if (used > 260) {
        cents += (used - 260) * 583;
        used = 260;
    }
    if (used > 180) {
        cents += (used - 180) * 483;
        used = 180;
    }
    return cents + used * 345;
}

int main()
{
    int n;
    cin >> n;
    int total = 0;
    for (int i = 0; i < n; i++) {
        int used;
        cin >> used;
        int cents = bill_cents(used);
        printf("%d.%02d\n", cents / 100, cents % 100);
        total += cents;
    }
    printf("%d.%02d\n", total / 100, total % 100);
    return 0;
}
