#include <stdio.h>
#include <string.h>

int main(void)
{
    int n;
    scanf("%d", &n);
    char best[31] = "";
    int best_total = -1;
    for (int i = 0; i < n; i++) {
        char name[31];
        int chinese, math, english;
        scanf(" %30[^,],%d,%d,%d", name, &chinese, &math, &english);
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
