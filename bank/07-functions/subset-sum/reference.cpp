#include <iostream>
using namespace std;

int n, T;
int price[20];
int ways = 0, fewest = -1;

void choose(int i, long long sum, int count)
{
    if (sum > T) {
        return;
    }
    if (i == n) {
        if (sum == T) {
            ways++;
            if (fewest < 0 || count < fewest) {
                fewest = count;
            }
        }
        return;
    }
    choose(i + 1, sum + price[i], count + 1);
    choose(i + 1, sum, count);
}

int main()
{
    cin >> n >> T;
    for (int i = 0; i < n; i++) {
        cin >> price[i];
    }
    choose(0, 0, 0);
    cout << ways << ' ' << fewest << '\n';
    return 0;
}
