// Preloaded into a program of the collection to make faults happen for real
// and to catch undefined calls the C library lets pass:
// - FAILMALLOC_SIZE=N: malloc of N bytes fails, but only when the program
//   itself asks, so that the prompt library and the C library go on working
//   and the program's own check is what runs;
// - FAILREAD_AFTER=N: after N calls of fread, the stream's descriptor is
//   swapped for a directory's, so its next read from the file fails (what
//   is already buffered is still read first);
// - always: toupper and isspace abort when given a value that is neither an
//   unsigned char nor EOF (glibc answers such a negative char as if it were
//   the byte, which hides the fault).
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

extern "C" void *__libc_malloc(size_t n);

extern "C" void *malloc(size_t n)
{
    static const char *size = getenv("FAILMALLOC_SIZE");
    if (size != nullptr && n == strtoul(size, nullptr, 10)) {
        Dl_info info;
        link_map *map = nullptr;
        // The main program is the object whose name is empty.
        if (dladdr1(__builtin_return_address(0), &info, reinterpret_cast<void **>(&map),
                    RTLD_DL_LINKMAP) != 0 &&
            map != nullptr && map->l_name[0] == '\0') {
            errno = ENOMEM;
            return nullptr;
        }
    }
    return __libc_malloc(n);
}

extern "C" size_t fread(void *buf, size_t size, size_t n, FILE *f)
{
    using Fread = size_t (*)(void *, size_t, size_t, FILE *);
    static auto real = reinterpret_cast<Fread>(dlsym(RTLD_NEXT, "fread"));
    static const char *after = getenv("FAILREAD_AFTER");
    static unsigned long calls = 0;
    if (after != nullptr && calls++ == strtoul(after, nullptr, 10))
        dup2(open("/", O_RDONLY | O_DIRECTORY), fileno(f));
    return real(buf, size, n, f);
}

static int checked(int c, const char *name)
{
    using Ctype = int (*)(int);
    auto real = reinterpret_cast<Ctype>(dlsym(RTLD_NEXT, name));
    if (c != EOF && (c < 0 || c > 255))
        abort();
    return real(c);
}

extern "C" int toupper(int c)
{
    return checked(c, "toupper");
}

extern "C" int isspace(int c)
{
    return checked(c, "isspace");
}
