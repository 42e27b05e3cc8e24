#include <stdio.h>
#include <string.h>

char letters[7];
char current[7];
int used[6];
int n, total;

void place(int pos)
{
    if (pos == n) {
        current[n] = '\0';
        printf("%s\n", current);
        total++;
        return;
    }
    for (int i = 0; i < n; i++) {
        if (!used[i]) {
            used[i] = 1;
            current[pos] = letters[i];
            place(pos + 1);
            used[i] = 0;
        }
    }
}

int main(void)
{
    scanf("%6s", letters);
    n = (int)strlen(letters);
    for (int i = 0; i < n; i++) {
        for (int j = i + 1; j < n; j++) {
            if (letters[j] < letters[i]) {
                char t = letters[i];
                letters[i] = letters[j];
                letters[j] = t;
            }
        }
    }
    place(0);
    printf("%d\n", total);
    return 0;
}
