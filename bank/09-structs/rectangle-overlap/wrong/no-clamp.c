#include <stdio.h>

struct rect {
    long long left, bottom, right, top;
};

int read_rect(struct rect *r)
{
    long long x1, y1, x2, y2;
    if (scanf("%lld %lld %lld %lld", &x1, &y1, &x2, &y2) != 4) {
        return 0;
    }
    r->left = x1 < x2 ? x1 : x2;
    r->right = x1 < x2 ? x2 : x1;
    r->bottom = y1 < y2 ? y1 : y2;
    r->top = y1 < y2 ? y2 : y1;
    return 1;
}

int main(void)
{
    struct rect a, b;
    if (!read_rect(&a) || !read_rect(&b)) {
        return 0;
    }
    long long w = (a.right < b.right ? a.right : b.right) - (a.left > b.left ? a.left : b.left);
    long long h = (a.top < b.top ? a.top : b.top) - (a.bottom > b.bottom ? a.bottom : b.bottom);
    long long overlap = w * h;
    if (overlap < 0) {
        overlap = 0;
    }
    long long area_a = (a.right - a.left) * (a.top - a.bottom);
    long long area_b = (b.right - b.left) * (b.top - b.bottom);
    printf("%lld %lld\n", overlap, area_a + area_b - overlap);
    return 0;
}
