#include <stdio.h>
#include <string.h>

int valid(const char *id)
{
    static const int weight[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    static const char code[] = "10X98765432";
    if (strlen(id) != 18) {
        return 0;
    }
    int sum = 0;
    for (int i = 0; i < 17; i++) {
        if (id[i] < '0' || id[i] > '9') {
            return 0;
        }
        sum += (id[i] - '0') * weight[i];
    }
    char last = id[17] == 'x' ? 'X' : id[17];
    return last == code[sum % 11];
}

int main(void)
{
    int n;
    scanf("%d", &n);
    for (int i = 0; i < n; i++) {
        char id[32];
        scanf("%31s", id);
        printf("%s\n", valid(id) ? "正确" : "错误");
    }
    return 0;
}
