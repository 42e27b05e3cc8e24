#include <iostream>
#include <string>
using namespace std;

int main()
{
    string word;
    long count = 0;
    size_t longest = 0;
    while (cin >> word) {
        count++;
        if (word.size() > longest) {
            longest = word.size();
        }
    }
    cout << count << ' ' << longest << '\n';
    return 0;
}
