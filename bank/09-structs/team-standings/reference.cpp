#include <algorithm>
#include <iostream>
#include <string>
#include <vector>
using namespace std;

struct Team {
    string name;
    int played = 0, win = 0, draw = 0, loss = 0, goals_for = 0, goals_against = 0, points = 0;
    int diff() const { return goals_for - goals_against; }
};

bool before(const Team &a, const Team &b)
{
    if (a.points != b.points) {
        return a.points > b.points;
    }
    if (a.diff() != b.diff()) {
        return a.diff() > b.diff();
    }
    if (a.goals_for != b.goals_for) {
        return a.goals_for > b.goals_for;
    }
    return a.name < b.name;
}

void record(Team &t, int scored, int conceded)
{
    t.played++;
    t.goals_for += scored;
    t.goals_against += conceded;
    if (scored > conceded) {
        t.win++;
        t.points += 3;
    } else if (scored == conceded) {
        t.draw++;
        t.points += 1;
    } else {
        t.loss++;
    }
}

int main()
{
    int n, m;
    cin >> n;
    vector<Team> teams(n);
    for (int i = 0; i < n; i++) {
        cin >> teams[i].name;
    }
    cin >> m;
    for (int k = 0; k < m; k++) {
        string home, away;
        int hg, ag;
        cin >> home >> away >> hg >> ag;
        for (int i = 0; i < n; i++) {
            if (teams[i].name == home) {
                record(teams[i], hg, ag);
            } else if (teams[i].name == away) {
                record(teams[i], ag, hg);
            }
        }
    }
    sort(teams.begin(), teams.end(), before);
    for (int i = 0; i < n; i++) {
        const Team &t = teams[i];
        cout << i + 1 << ' ' << t.name << ' ' << t.played << ' ' << t.win << ' ' << t.draw << ' ' << t.loss << ' '
             << t.goals_for << ' ' << t.goals_against << ' ' << t.diff() << ' ' << t.points << '\n';
    }
    return 0;
}
