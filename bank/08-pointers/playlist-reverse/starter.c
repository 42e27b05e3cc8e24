#include <stdio.h>
#include <stdlib.h>

struct node {
    int id;
    struct node *next;
};

/* 在这里写代码：反转链表、删除结点、输出链表的函数 */

int main(void)
{
    int n, x;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    struct node *head = NULL, *tail = NULL;
    for (int i = 0; i < n; i++) {
        struct node *p = malloc(sizeof *p);
        if (p == NULL || scanf("%d", &p->id) != 1) {
            free(p);
            return 0;
        }
        p->next = NULL;
        if (tail == NULL) {
            head = p;
        } else {
            tail->next = p;
        }
        tail = p;
    }
    if (scanf("%d", &x) != 1) {
        return 0;
    }
    (void)head;
    return 0;
}
