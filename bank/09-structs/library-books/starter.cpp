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
    // 在这里写代码：读入 n 张卡片和作者名，再统计

    return 0;
}
