#include <stdio.h>

int main(void)
{
    int age, price;
    scanf("%d", &age);
    if (age < 6) {
        price = 0;
    } else if (age < 18) {
        price = 30;
    } else if (age < 60) {
        price = 60;
    } else {
        price = 30;
    }
    printf("%d\n", price);
    return 0;
}
