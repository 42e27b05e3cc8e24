#include <cctype>
#include <iostream>
#include <string>
using namespace std;

int main()
{
    string line;
    getline(cin, line);
    for (size_t i = 0; i < line.size(); i++) {
        unsigned char c = line[i];
        if (i == 0 || !isalpha((unsigned char)line[i - 1])) {
            line[i] = toupper(c);
        } else {
            line[i] = tolower(c);
        }
    }
    cout << line << '\n';
    return 0;
}
