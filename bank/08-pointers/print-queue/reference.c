#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct node {
    long value;
    struct node *next;
};

int main(void)
{
    struct node *head = NULL, *tail = NULL;
    long size = 0;
    int q, i;
    char cmd[16];
    scanf("%d", &q);
    for (i = 0; i < q && scanf("%15s", cmd) == 1; i++) {
        if (strcmp(cmd, "push") == 0) {
            struct node *n = malloc(sizeof *n);
            if (n == NULL || scanf("%ld", &n->value) != 1) {
                free(n);
                break;
            }
            n->next = NULL;
            if (tail != NULL) {
                tail->next = n;
            } else {
                head = n;
            }
            tail = n;
            size++;
        } else if (strcmp(cmd, "pop") == 0) {
            if (head == NULL) {
                printf("empty\n");
            } else {
                struct node *n = head;
                printf("%ld\n", n->value);
                head = n->next;
                if (head == NULL) {
                    tail = NULL;
                }
                free(n);
                size--;
            }
        } else if (strcmp(cmd, "size") == 0) {
            printf("%ld\n", size);
        }
    }
    while (head != NULL) {
        struct node *n = head;
        head = head->next;
        free(n);
    }
    return 0;
}
