#include <stdio.h>

int beats(char x, char y)
{
    return (x == 'R' && y == 'S') || (x == 'S' && y == 'P') || (x == 'P' && y == 'R');
}

int main(void)
{
    int n;
    if (scanf("%d", &n) != 1) {
        return 0;
    }
    int wins_a = 0, wins_b = 0;
    for (int i = 0; i < n; i++) {
        char a, b;
        if (scanf(" %c %c", &a, &b) != 2) {
            break;
        }
        if (a == b) {
            printf("draw\n");
        } else if (beats(a, b)) {
            wins_a++;
            printf("A\n");
        } else {
            wins_b++;
            printf("B\n");
        }
    }
    printf("%d:%d\n", wins_a, wins_b);
    if (wins_a >= wins_b) {
        printf("A\n");
    } else {
        printf("B\n");
    }
    return 0;
}
