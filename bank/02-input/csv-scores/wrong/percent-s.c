#include <stdio.h>
#include <string.h>

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    char best[31] = "";
    int best_total = -1;
    for (int i = 0; i < n; i++) {
        char line[100], name[31];
        int chinese, math, english;
        if (scanf("%99s", line) != 1) {
            break;
        }
        if (sscanf(line, "%30[^,],%d,%d,%d", name, &chinese, &math, &english) != 4) {
            break;
        }
        int total = chinese + math + english;
        printf("%s %d\n", name, total);
        if (total > best_total) {
            best_total = total;
            strcpy(best, name);
        }
    }
    printf("%s\n", best);
    return 0;
}
