#include <iostream>
#include <string>
using namespace std;

int main()
{
    string line;
    getline(cin, line);
    // 在这里写代码：逐个字符处理，判断它是不是一个单词的第一个字符

    return 0;
}
