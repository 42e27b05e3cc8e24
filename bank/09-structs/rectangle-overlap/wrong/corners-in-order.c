#include <stdio.h>

struct rect {
    long long left, bottom, right, top;
};

int main(void)
{
    struct rect a, b;
    if (scanf("%lld %lld %lld %lld", &a.left, &a.bottom, &a.right, &a.top) != 4 ||
        scanf("%lld %lld %lld %lld", &b.left, &b.bottom, &b.right, &b.top) != 4) {
        return 0;
    }
    long long w = (a.right < b.right ? a.right : b.right) - (a.left > b.left ? a.left : b.left);
    long long h = (a.top < b.top ? a.top : b.top) - (a.bottom > b.bottom ? a.bottom : b.bottom);
    long long overlap = w > 0 && h > 0 ? w * h : 0;
    long long area_a = (a.right - a.left) * (a.top - a.bottom);
    long long area_b = (b.right - b.left) * (b.top - b.bottom);
    if (area_a < 0) {
        area_a = -area_a;
    }
    if (area_b < 0) {
        area_b = -area_b;
    }
    printf("%lld %lld\n", overlap, area_a + area_b - overlap);
    return 0;
}
