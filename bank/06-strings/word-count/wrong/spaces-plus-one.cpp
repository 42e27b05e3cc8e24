#include <iostream>
#include <string>
using namespace std;

int main()
{
    string line;
    long count = 0;
    size_t longest = 0;
    while (getline(cin, line)) {
        if (line.empty()) {
            continue;
        }
        size_t run = 0;
        count++;
        for (size_t i = 0; i < line.size(); i++) {
            if (line[i] == ' ' || line[i] == '\t') {
                count++;
                run = 0;
            } else {
                run++;
                if (run > longest) {
                    longest = run;
                }
            }
        }
    }
    cout << count << ' ' << longest << '\n';
    return 0;
}
