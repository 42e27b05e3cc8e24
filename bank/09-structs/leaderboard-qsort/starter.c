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
    /* 在这里写代码：x 应排在 y 前面时返回负数，相同时返回 0，后面时返回正数 */
    (void)x;
    (void)y;
    return 0;
}

int main(void)
{
    int n;
    struct player list[200];
    scanf("%d", &n);
    for (int i = 0; i < n; i++) {
        scanf("%20s %d", list[i].name, &list[i].score);
    }
    qsort(list, n, sizeof list[0], compare);
    /* 在这里写代码：输出名次、名字和积分 */

    int m;
    scanf("%d", &m);
    for (int i = 0; i < m; i++) {
        struct player key;
        scanf("%20s %d", key.name, &key.score);
        struct player *found = bsearch(&key, list, n, sizeof list[0], compare);
        /* 在这里写代码：found 为 NULL 时输出 查无此人，否则输出这位玩家的名次 */
        (void)found;
    }
    return 0;
}
