#include <stdio.h>

int main(void)
{
    int n, q;
    int id[501];
    scanf("%d", &n);
    for (int i = 1; i <= n; i++) {
        scanf("%d", &id[i]);
    }
    scanf("%d", &q);
    for (int k = 0; k < q; k++) {
        int x;
        scanf("%d", &x);
        int lo = 1, hi = n, found = 0;
        while (lo <= hi) {
            int mid = (lo + hi) / 2;
            printf("%d ", mid);
            if (id[mid] == x) {
                found = 1;
                break;
            }
            if (id[mid] < x) {
                lo = mid + 1;
            } else {
                hi = mid - 1;
            }
        }
        printf("%s\n", found ? "找到" : "没有");
    }
    return 0;
}
