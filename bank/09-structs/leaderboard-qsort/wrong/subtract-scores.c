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
        return y->score - x->score;
    }
    return strcmp(x->name, y->name);
}

int main(void)
{
    int n;
    struct player list[200];
    int rank[200];
    scanf("%d", &n);
    for (int i = 0; i < n; i++) {
        scanf("%20s %d", list[i].name, &list[i].score);
    }
    qsort(list, n, sizeof list[0], compare);
    for (int i = 0; i < n; i++) {
        if (i == 0 || list[i].score != list[i - 1].score) {
            rank[i] = i + 1;
        } else {
            rank[i] = rank[i - 1];
        }
        printf("%d %s %d\n", rank[i], list[i].name, list[i].score);
    }

    int m;
    scanf("%d", &m);
    for (int i = 0; i < m; i++) {
        struct player key;
        scanf("%20s %d", key.name, &key.score);
        struct player *found = bsearch(&key, list, n, sizeof list[0], compare);
        if (found == NULL) {
            printf("查无此人\n");
        } else {
            printf("%d\n", rank[found - list]);
        }
    }
    return 0;
}
