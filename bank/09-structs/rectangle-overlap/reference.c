#include <stdio.h>

struct rect {
    long long left, bottom, right, top;
};

int read_rect(struct rect *r)
{
    long long x1, y1, x2, y2;
    scanf("%lld %lld %lld %lld", &x1, &y1, &x2, &y2);
    r->left = x1 < x2 ? x1 : x2;
    r->right = x1 < x2 ? x2 : x1;
    r->bottom = y1 < y2 ? y1 : y2;
    r->top = y1 < y2 ? y2 : y1;
    return 1;
}

long long area(struct rect r)
{
    return (r.right - r.left) * (r.top - r.bottom);
}

long long max_ll(long long a, long long b)
{
    return a > b ? a : b;
}

long long min_ll(long long a, long long b)
{
    return a < b ? a : b;
}

int main(void)
{
    struct rect a, b;
    if (!read_rect(&a) || !read_rect(&b)) {
        return 0;
    }
    long long w = min_ll(a.right, b.right) - max_ll(a.left, b.left);
    long long h = min_ll(a.top, b.top) - max_ll(a.bottom, b.bottom);
    long long overlap = w > 0 && h > 0 ? w * h : 0;
    printf("%lld %lld\n", overlap, area(a) + area(b) - overlap);
    return 0;
}
