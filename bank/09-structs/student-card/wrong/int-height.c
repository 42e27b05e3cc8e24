#include <stdio.h>

struct student {
    char name[32];
    int age;
    int height;
};

int main(void)
{
    struct student s;
    if (scanf("%31s %d %d", s.name, &s.age, &s.height) != 3) {
        return 0;
    }
    printf("Name: %s\n", s.name);
    printf("Age: %d\n", s.age);
    printf("Height: %d.00\n", s.height);
    return 0;
}
