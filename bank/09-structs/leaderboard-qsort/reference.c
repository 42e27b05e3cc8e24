#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct player {
    char name[21];
    int score;
};

int compare(const void *a, const void *b)
{
    const struct player *x = a, *y = b;
    if (x->score != y->score) {
        return x->score > y->score ? -1 : 1;
    }
    return strcmp(x->name, y->name);
}

int main(void)
{
    int n;
    struct player list[200];
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        if (scanf("%20s %d", list[i].name, &list[i].score) != 2) {
            return 0;
        }
    }
    qsort(list, n, sizeof list[0], compare);
    int rank = 1;
    for (int i = 0; i < n; i++) {
        if (i > 0 && list[i].score != list[i - 1].score) {
            rank = i + 1;
        }
        printf("%d %s %d\n", rank, list[i].name, list[i].score);
    }
    return 0;
}
