#include <stdio.h>

struct rect {
    int left, bottom, right, top;
};

int read_rect(struct rect *r)
{
    int x1, y1, x2, y2;
    if (scanf("%d %d %d %d", &x1, &y1, &x2, &y2) != 4) {
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
    int w = (a.right < b.right ? a.right : b.right) - (a.left > b.left ? a.left : b.left);
    int h = (a.top < b.top ? a.top : b.top) - (a.bottom > b.bottom ? a.bottom : b.bottom);
    long long overlap = w > 0 && h > 0 ? w * h : 0;
    long long area_a = (a.right - a.left) * (a.top - a.bottom);
    long long area_b = (b.right - b.left) * (b.top - b.bottom);
    printf("%lld %lld\n", overlap, area_a + area_b - overlap);
    return 0;
}
