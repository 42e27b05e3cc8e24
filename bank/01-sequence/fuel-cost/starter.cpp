#include <iostream>
#include <iomanip>
using namespace std;

int main()
{
    // 在这里写代码：读入 d c p n，算出用油量、油费和每人分摊的钱

    return 0;
}
