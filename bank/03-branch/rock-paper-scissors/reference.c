#include <stdio.h>

/* 1 when move x beats move y */
int beats(char x, char y)
{
    return (x == 'R' && y == 'S') || (x == 'S' && y == 'P') || (x == 'P' && y == 'R');
}

int main(void)
{
    int n;
    scanf("%d", &n);
    int wins_a = 0, wins_b = 0;
    for (int i = 0; i < n; i++) {
        char a, b;
        scanf(" %c %c", &a, &b);
        if (beats(a, b)) {
            wins_a++;
            printf("A\n");
        } else if (beats(b, a)) {
            wins_b++;
            printf("B\n");
        } else {
            printf("draw\n");
        }
    }
    printf("%d:%d\n", wins_a, wins_b);
    if (wins_a > wins_b) {
        printf("A\n");
    } else if (wins_b > wins_a) {
        printf("B\n");
    } else {
        printf("draw\n");
    }
    return 0;
}
