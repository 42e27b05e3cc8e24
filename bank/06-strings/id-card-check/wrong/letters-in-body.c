#include <stdio.h>
#include <string.h>

// Checks length and checksum, but lets a letter stand among the first 17 places
// (its character code minus '0' goes into the sum).
int valid(const char *id)
{
    static const int weight[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    static const char code[] = "10X98765432";
    if (strlen(id) != 18) {
        return 0;
    }
    int sum = 0;
    for (int i = 0; i < 17; i++) {
        sum += (id[i] - '0') * weight[i];
    }
    char last = id[17] == 'x' ? 'X' : id[17];
    return last == code[((sum % 11) + 11) % 11];
}

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        char id[32];
        if (scanf("%31s", id) != 1) {
            break;
        }
        printf("%s\n", valid(id) ? "正确" : "错误");
    }
    return 0;
}
