#include <iostream>
#include <sstream>
#include <string>
using namespace std;

int main()
{
    string line, word;
    long count = 0;
    size_t longest = 0;
    getline(cin, line);
    istringstream in(line);
    while (in >> word) {
        count++;
        if (word.size() > longest) {
            longest = word.size();
        }
    }
    cout << count << ' ' << longest << '\n';
    return 0;
}
