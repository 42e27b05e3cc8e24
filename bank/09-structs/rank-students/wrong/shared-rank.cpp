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
    if (!(cin >> n)) {
        return 0;
    }
    vector<student> list(n);
    for (int i = 0; i < n; i++) {
        int chinese, math;
        cin >> list[i].name >> chinese >> math;
        list[i].total = chinese + math;
    }
    sort(list.begin(), list.end(), before);
    int rank = 0;
    for (int i = 0; i < n; i++) {
        if (i == 0 || list[i].total != list[i - 1].total) {
            rank = i + 1;
        }
        cout << rank << ' ' << list[i].name << ' ' << list[i].total << '\n';
    }
    return 0;
}
