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
    cin >> n;
    Book books[100];
    for (int i = 0; i < n; i++) {
        cin >> books[i].title >> books[i].author >> books[i].year >> books[i].copies;
    }
    string who;
    cin >> who;
    int total = 0, oldest = 0;
    for (int i = 0; i < n; i++) {
        total += books[i].copies;
        if (books[i].year < books[oldest].year) {
            oldest = i;
        }
    }
    cout << total << '\n' << books[oldest].title << '\n';
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
