// A unique_ptr owns its block; a shared_ptr counts its owners.
#include <cstdio>
#include <memory>

int main()
{
    std::unique_ptr<int> p(new int(42));
    std::shared_ptr<int> s = std::make_shared<int>(7);
    std::shared_ptr<int> t = s;
    *p += 1;
    printf("%d %d %ld\n", *p, *s, s.use_count());
    return 0;
}
