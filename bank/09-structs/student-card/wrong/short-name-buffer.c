#include <stdio.h>

struct student {
    char name[20];
    int age;
    double height;
};

int main(void)
{
    struct student s;
    if (scanf("%19s %d %lf", s.name, &s.age, &s.height) != 3) {
        return 0;
    }
    printf("Name: %s\n", s.name);
    printf("Age: %d\n", s.age);
    printf("Height: %.2f\n", s.height);
    return 0;
}
