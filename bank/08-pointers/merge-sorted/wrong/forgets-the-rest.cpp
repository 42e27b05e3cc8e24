#include <iostream>
#include <vector>
using namespace std;

int main()
{
    int n, m;
    if (!(cin >> n)) {
        return 0;
    }
    vector<int> a(n + 1);
    for (int i = 0; i < n; i++) {
        cin >> a[i];
    }
    cin >> m;
    vector<int> b(m + 1);
    for (int i = 0; i < m; i++) {
        cin >> b[i];
    }
    vector<int> merged;
    const int *p = a.data(), *p_end = a.data() + n;
    const int *q = b.data(), *q_end = b.data() + m;
    while (p < p_end && q < q_end) {
        merged.push_back(*p <= *q ? *p++ : *q++);
    }
    while (p < p_end) {
        merged.push_back(*p++);
    }
    int distinct = 0;
    for (size_t i = 0; i < merged.size(); i++) {
        cout << merged[i] << (i + 1 < merged.size() ? " " : "");
        if (i == 0 || merged[i] != merged[i - 1]) {
            distinct++;
        }
    }
    cout << '\n' << distinct << '\n';
    return 0;
}
