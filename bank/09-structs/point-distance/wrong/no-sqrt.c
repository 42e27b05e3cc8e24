#include <stdio.h>
struct point { double x, y; };
int main(void)
{
    struct point p, q;
    if (scanf("%lf %lf %lf %lf", &p.x, &p.y, &q.x, &q.y) != 4) return 0;
    printf("%.3f\n", (p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y));
    return 0;
}
