#include <iostream>
#include <string>
using namespace std;

struct Team {
    string name;
    int played, win, draw, loss, goals_for, goals_against, points;
};

int main()
{
    // 在这里写代码：读入球队和比赛，统计，排序，输出

    return 0;
}
