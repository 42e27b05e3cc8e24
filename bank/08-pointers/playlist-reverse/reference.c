#include <stdio.h>
#include <stdlib.h>

struct node {
    int id;
    struct node *next;
};

struct node *reverse(struct node *head)
{
    struct node *prev = NULL;
    while (head != NULL) {
        struct node *next = head->next;
        head->next = prev;
        prev = head;
        head = next;
    }
    return prev;
}

struct node *remove_all(struct node *head, int x)
{
    struct node **link = &head;
    while (*link != NULL) {
        if ((*link)->id == x) {
            struct node *gone = *link;
            *link = gone->next;
            free(gone);
        } else {
            link = &(*link)->next;
        }
    }
    return head;
}

void print(const struct node *head)
{
    if (head == NULL) {
        printf("空\n");
        return;
    }
    for (; head != NULL; head = head->next) {
        printf("%d%c", head->id, head->next != NULL ? ' ' : '\n');
    }
}

void free_all(struct node *head)
{
    while (head != NULL) {
        struct node *next = head->next;
        free(head);
        head = next;
    }
}

int main(void)
{
    int n, x;
    scanf("%d", &n);
    struct node *head = NULL, *tail = NULL;
    for (int i = 0; i < n; i++) {
        struct node *p = malloc(sizeof *p);
        if (p == NULL || scanf("%d", &p->id) != 1) {
            free(p);
            free_all(head);
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
    scanf("%d", &x);
    head = reverse(head);
    print(head);
    head = remove_all(head, x);
    print(head);
    free_all(head);
    return 0;
}
