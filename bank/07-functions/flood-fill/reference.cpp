#include <iostream>
#include <string>
using namespace std;

int R, C;
string grid[50];

int fill(int r, int c)
{
    if (r < 0 || r >= R || c < 0 || c >= C || grid[r][c] != '#') {
        return 0;
    }
    grid[r][c] = '~';  // visited
    return 1 + fill(r - 1, c) + fill(r + 1, c) + fill(r, c - 1) + fill(r, c + 1);
}

int main()
{
    cin >> R >> C;
    for (int i = 0; i < R; i++) {
        cin >> grid[i];
    }
    int lakes = 0, largest = 0;
    for (int r = 0; r < R; r++) {
        for (int c = 0; c < C; c++) {
            if (grid[r][c] == '#') {
                int size = fill(r, c);
                lakes++;
                if (size > largest) {
                    largest = size;
                }
            }
        }
    }
    cout << lakes << ' ' << largest << '\n';
    return 0;
}
