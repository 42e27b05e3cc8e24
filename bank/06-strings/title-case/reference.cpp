#include <cctype>
#include <iostream>
#include <string>
using namespace std;

int main()
{
    string line;
    getline(cin, line);
    bool word_start = true;
    for (size_t i = 0; i < line.size(); i++) {
        unsigned char c = line[i];
        if (c == ' ' || c == '\r') {
            word_start = true;
            continue;
        }
        line[i] = word_start ? toupper(c) : tolower(c);
        word_start = false;
    }
    cout << line << '\n';
    return 0;
}
