#include <iostream>
#include <vector>
using namespace std;

int count_distinct(const vector<int> &v, int len)
{
    int d = 0;
    for (int i = 0; i < len; i++) {
        if (i == 0 || v[i] != v[i - 1]) {
            d++;
        }
    }
    return d;
}

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
    for (int i = 0; i < n + m; i++) {
        cout << merged[i] << (i + 1 < n + m ? " " : "");
    }
    cout << '\n' << count_distinct(a, n) + count_distinct(b, m) << '\n';
    return 0;
}
