#include <iostream>
#include <string>
using namespace std;

struct Book {
    string title;
    string author;
    int year;
    int copies;
};

int main()
{
    int n;
    if (!(cin >> n)) {
        return 0;
    }
    Book books[100];
    for (int i = 0; i < n; i++) {
        cin >> books[i].title >> books[i].author >> books[i].year >> books[i].copies;
    }
    string who;
    cin >> who;
    int total = 0, oldest_year = 9999;
    string oldest;
    for (int i = 0; i < n; i++) {
        total += books[i].copies;
        if (books[i].year <= oldest_year) {
            oldest_year = books[i].year;
            oldest = books[i].title;
        }
    }
    cout << total << '\n' << oldest << '\n';
    bool any = false;
    for (int i = 0; i < n; i++) {
        if (books[i].author == who) {
            cout << (any ? " " : "") << books[i].title;
            any = true;
        }
    }
    cout << (any ? "" : "无") << '\n';
    return 0;
}
