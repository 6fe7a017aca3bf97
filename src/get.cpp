// get: scanf's "%i" reads an integer in decimal, octal (0...) or hex (0x...).
#include <climits>
#include <cstdio>

int main()
{
    printf("a:?");
    // Read wider than int, so that a number outside int's range is seen
    // rather than wrapped; when nothing is read, a has no value to print.
    long long n;
    if (scanf("%lli", &n) != 1 || n < INT_MIN || n > INT_MAX)
        return 1;
    int a = static_cast<int>(n);
    printf("%i\n", a);
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;  // all of it was written
}
