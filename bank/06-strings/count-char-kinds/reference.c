#include <ctype.h>
#include <stdio.h>

int main(void)
{
    int c, up = 0, low = 0, dig = 0, other = 0;
    while ((c = getchar()) != EOF && c != '\n') {
        if (isupper(c)) {
            up++;
        } else if (islower(c)) {
            low++;
        } else if (isdigit(c)) {
            dig++;
        } else {
            other++;
        }
    }
    printf("%d %d %d %d\n", up, low, dig, other);
    return 0;
}
