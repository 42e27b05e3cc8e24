#include <iostream>
#include <string>
using namespace std;

struct wallet {
    long long balance;
    int count;

    wallet() : balance(0), count(0) {}

    void deposit(long long x)
    {
        balance += x;
        count++;
    }

    bool spend(long long x)
    {
        if (x > balance) {
            return false;
        }
        balance -= x;
        count++;
        return true;
    }
};

int main()
{
    int q;
    cin >> q;
    wallet w;
    for (int i = 0; i < q; i++) {
        string op;
        cin >> op;
        if (op == "deposit") {
            long long x;
            cin >> x;
            w.deposit(x);
            cout << "ok " << w.balance << '\n';
        } else if (op == "spend") {
            long long x;
            cin >> x;
            bool done = w.spend(x);
            cout << (done ? "ok " : "fail ") << w.balance << '\n';
        } else {
            cout << "balance " << w.balance << " count " << w.count << '\n';
        }
    }
    return 0;
}
