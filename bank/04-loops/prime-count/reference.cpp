#include <iostream>
using namespace std;

bool is_prime(int n)
{
    if (n < 2) {
        return false;
    }
    for (int d = 2; d * d <= n; d++) {
        if (n % d == 0) {
            return false;
        }
    }
    return true;
}

int main()
{
    int a, b;
    cin >> a >> b;
    int count = 0;
    for (int n = a; n <= b; n++) {
        if (is_prime(n)) {
            count++;
        }
    }
    cout << count << '\n';
    return 0;
}
