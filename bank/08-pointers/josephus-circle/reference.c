#include <stdio.h>
#include <stdlib.h>

struct node {
    int id;
    struct node *next;
};

int main(void)
{
    int n, k, i, left;
    struct node *first = NULL, *prev = NULL;
    scanf("%d %d", &n, &k);
    for (i = 1; i <= n; i++) {
        struct node *p = malloc(sizeof *p);
        if (p == NULL) {
            return 1;
        }
        p->id = i;
        if (prev != NULL) {
            prev->next = p;
        } else {
            first = p;
        }
        prev = p;
    }
    prev->next = first;
    for (left = n; left > 0; left--) {
        struct node *out;
        for (i = 1; i < k; i++) {
            prev = prev->next;
        }
        out = prev->next;
        printf("%d%s", out->id, left > 1 ? " " : "\n");
        prev->next = out->next;
        free(out);
    }
    return 0;
}
