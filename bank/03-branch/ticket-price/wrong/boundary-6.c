#include <stdio.h>
int main(void)
{
    int age;
    if (scanf("%d", &age) != 1) return 0;
    if (age <= 6) printf("0\n");
    else if (age < 18) printf("30\n");
    else if (age < 60) printf("60\n");
    else printf("30\n");
    return 0;
}
