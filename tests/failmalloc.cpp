// Preloaded into a program of the collection: malloc of FAILMALLOC_SIZE bytes
// fails, but only when the program itself asks, so that the prompt library
// and the C library go on working and the program's own check is what runs.
#include <cerrno>
#include <cstdlib>

#include <dlfcn.h>
#include <link.h>

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
