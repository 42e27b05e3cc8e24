#include <algorithm>
#include <iostream>
#include <string>
#include <vector>
using namespace std;

struct student {
    string name;
    int total;
};

bool before(const student &a, const student &b)
{
    if (a.total != b.total) {
        return a.total > b.total;
    }
    return a.name < b.name;
}

int main()
{
    int n;
    cin >> n;
    vector<student> list(n);
    for (int i = 0; i < n; i++) {
        int chinese, math;
        cin >> list[i].name >> chinese >> math;
        list[i].total = chinese + math;
    }
    sort(list.begin(), list.end(), before);
    for (int i = 0; i < n; i++) {
        cout << i + 1 << ' ' << list[i].name << ' ' << list[i].total << '\n';
    }
    return 0;
}
