#include <iostream>
#include <vector>
using namespace std;

int main()
{
    int k, n;
    cin >> k >> n;
    vector<int> votes(k + 1, 0);
    for (int i = 0; i < n; i++) {
        int v;
        cin >> v;
        votes[v]++;
    }
    int winner = 1;
    for (int c = 1; c <= k; c++) {
        cout << votes[c] << (c < k ? ' ' : '\n');
        if (votes[c] > votes[winner]) {
            winner = c;
        }
    }
    cout << winner << '\n';
    return 0;
}
