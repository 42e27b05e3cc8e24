#include <math.h>
#include <stdio.h>

struct point {
    double x, y;
};

double distance(struct point a, struct point b)
{
    double dx = a.x - b.x;
    double dy = a.y - b.y;
    return sqrt(dx * dx + dy * dy);
}

int main(void)
{
    struct point p, q;
    scanf("%lf %lf %lf %lf", &p.x, &p.y, &q.x, &q.y);
    printf("%.3f\n", distance(p, q));
    return 0;
}
