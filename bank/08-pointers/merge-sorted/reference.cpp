#include <iostream>
#include <vector>
using namespace std;

int main()
{
    int n, m;
    cin >> n;
    vector<int> a(n + 1);
    for (int i = 0; i < n; i++) {
        cin >> a[i];
    }
    cin >> m;
    vector<int> b(m + 1);
    for (int i = 0; i < m; i++) {
        cin >> b[i];
    }
    vector<int> merged(n + m + 1);
    const int *p = a.data(), *p_end = a.data() + n;
    const int *q = b.data(), *q_end = b.data() + m;
    int *out = merged.data();
    while (p < p_end && q < q_end) {
        *out++ = *p <= *q ? *p++ : *q++;
    }
    while (p < p_end) {
        *out++ = *p++;
    }
    while (q < q_end) {
        *out++ = *q++;
    }
    int distinct = 0;
    for (int i = 0; i < n + m; i++) {
        cout << merged[i] << (i + 1 < n + m ? " " : "");
        if (i == 0 || merged[i] != merged[i - 1]) {
            distinct++;
        }
    }
    cout << '\n' << distinct << '\n';
    return 0;
}
