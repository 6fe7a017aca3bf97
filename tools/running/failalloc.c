/* Preloaded into a learner's program for a case where memory runs out: the
 * FAILALLOC_AT-th call that the program's own code makes of malloc, calloc,
 * realloc, strdup or strndup returns null, as when no memory is left; the
 * prompt library and the C library allocate as ever, so that the
 * program's own check of its own allocation is what runs. That call is
 * told on standard error ("failalloc: ..."), so that ./check knows the
 * case applied to the version at all. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <link.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern void *__libc_malloc(size_t n);
extern void *__libc_calloc(size_t n, size_t size);
extern void *__libc_realloc(void *p, size_t n);

static int fails(void *caller, const char *name)
{
    static long at = -1, calls = 0;
    Dl_info info;
    struct link_map *map = NULL;
    if (at < 0) {
        const char *s = getenv("FAILALLOC_AT");
        at = s != NULL ? atol(s) : 0;
    }
    /* the main program is the object whose name is empty */
    if (at <= 0 || dladdr1(caller, &info, (void **)&map, RTLD_DL_LINKMAP) == 0 ||
        map == NULL || map->l_name[0] != '\0' || ++calls != at)
        return 0;
    static const char said[] = "\nfailalloc: the program's allocation returns NULL: ";
    (void)!write(2, said, sizeof said - 1);
    (void)!write(2, name, strlen(name));
    (void)!write(2, "\n", 1);
    errno = ENOMEM;
    return 1;
}

void *malloc(size_t n)
{
    return fails(__builtin_return_address(0), "malloc") ? NULL : __libc_malloc(n);
}

void *calloc(size_t n, size_t size)
{
    return fails(__builtin_return_address(0), "calloc") ? NULL : __libc_calloc(n, size);
}

void *realloc(void *p, size_t n)
{
    return fails(__builtin_return_address(0), "realloc") ? NULL : __libc_realloc(p, n);
}

char *strdup(const char *s)
{
    size_t n = strlen(s) + 1;
    char *copy = fails(__builtin_return_address(0), "strdup") ? NULL : __libc_malloc(n);
    return copy != NULL ? memcpy(copy, s, n) : NULL;
}

char *strndup(const char *s, size_t most)
{
    size_t n = strnlen(s, most);
    char *copy = fails(__builtin_return_address(0), "strndup") ? NULL : __libc_malloc(n + 1);
    if (copy == NULL)
        return NULL;
    memcpy(copy, s, n);
    copy[n] = '\0';
    return copy;
}
