#include <iostream>
using namespace std;

// Pads with spaces as on paper: the padding is not seen at all.
void row(int n, int stars)
{
    for (int s = 0; s < n - (stars + 1) / 2; s++) {
        cout << ' ';
    }
    for (int s = 0; s < stars; s++) {
        cout << '*';
    }
    cout << '\n';
}

int main()
{
    int n;
    cin >> n;
    for (int i = 1; i <= n; i++) {
        row(n, 2 * i - 1);
    }
    for (int i = n - 1; i >= 1; i--) {
        row(n, 2 * i - 1);
    }
    return 0;
}
