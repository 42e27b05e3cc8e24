#include <iostream>
#include <map>
#include <set>
#include <string>
using namespace std;

struct category {
    set<string> items;
    long long stock;
    category() : stock(0) {}
};

int main()
{
    int n;
    cin >> n;
    map<string, category> categories;
    map<string, long long> items;
    for (int i = 0; i < n; i++) {
        string item, kind;
        long long qty;
        cin >> item >> kind >> qty;
        category &c = categories[kind];
        c.items.insert(item);
        c.stock += qty;
        items[item] += qty;
    }
    for (map<string, category>::const_iterator it = categories.begin(); it != categories.end(); ++it) {
        cout << it->first << ' ' << it->second.items.size() << ' ' << it->second.stock << '\n';
    }
    map<string, long long>::const_iterator top = items.begin();
    for (map<string, long long>::const_iterator it = items.begin(); it != items.end(); ++it) {
        if (it->second > top->second) {
            top = it;
        }
    }
    cout << "TOP " << top->first << ' ' << top->second << '\n';
    return 0;
}
