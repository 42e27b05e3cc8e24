#include <stdio.h>
#include <string.h>

char letters[7];
int n, total;

void permute(int pos)
{
    if (pos == n) {
        printf("%s\n", letters);
        total++;
        return;
    }
    for (int i = pos; i < n; i++) {
        char t = letters[pos];
        letters[pos] = letters[i];
        letters[i] = t;
        permute(pos + 1);
        t = letters[pos];
        letters[pos] = letters[i];
        letters[i] = t;
    }
}

int main(void)
{
    if (scanf("%6s", letters) != 1) {
        return 0;
    }
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
    permute(0);
    printf("%d\n", total);
    return 0;
}
