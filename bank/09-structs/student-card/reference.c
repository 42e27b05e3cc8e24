#include <stdio.h>

struct student {
    char name[32];
    int age;
    double height;
};

int main(void)
{
    struct student s;
    scanf("%31s %d %lf", s.name, &s.age, &s.height);
    printf("Name: %s\n", s.name);
    printf("Age: %d\n", s.age);
    printf("Height: %.2f\n", s.height);
    return 0;
}
