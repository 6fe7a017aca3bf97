/* askline: ask for a line of input behind a prompt. */
#include "askline.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

/*
 * Lines shorter than this are copied out of the reading buffer, which is
 * kept for the next line: a copy costs less than growing a new buffer for
 * every line. Longer ones take the buffer itself, so a huge line is never
 * held twice.
 */
#define KEEP_BUFFER_BELOW ((size_t)4 << 20)

static char **given; /* every line handed out, freed at exit */
static size_t ngiven;
static size_t room; /* entries given has room for */
static char *buf;   /* getline's buffer */
static size_t cap;

/*
 * A program started with descriptor 0, 1 or 2 closed would hand that number
 * to the first file it opens, and its prompts would be written into that
 * file. Every closed one is opened on /dev/null before the program runs:
 * open takes the lowest free number, so going up from 0 fills each hole.
 */
__attribute__((constructor)) static void open_standard_descriptors(void)
{
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) == -1)
            abort();
}

__attribute__((destructor)) static void free_lines(void)
{
    for (size_t i = 0; i < ngiven; i++)
        free(given[i]);
    free(given);
    free(buf);
}

/* Keeps s in the list of lines freed at exit; false when there is no room. */
static int keep(char *s)
{
    if (ngiven == room) {
        size_t n = room == 0 ? 64 : 2 * room;
        char **g = realloc(given, n * sizeof *g);
        if (g == NULL)
            return 0;
        given = g;
        room = n;
    }
    given[ngiven++] = s;
    return 1;
}

string get_string(va_list *args, const char *format, ...)
{
    /*
     * An empty or null prompt prints nothing, so it is not formatted at all:
     * that spares a caller reading many lines through it.
     */
    if (format != NULL && format[0] != '\0') {
        if (args != NULL) {
            vprintf(format, *args);
        } else {
            va_list ap;
            va_start(ap, format);
            vprintf(format, ap);
            va_end(ap);
        }
    }
    fflush(stdout);

    /*
     * A read error after part of a line (a terminal hung up) leaves that
     * part in the buffer: it is no line, so it gives null like the error.
     */
    ssize_t n = getline(&buf, &cap, stdin);
    if (n < 0 || ferror(stdin))
        return NULL;
    if (n > 0 && buf[n - 1] == '\n') {
        n--;
        if (n > 0 && buf[n - 1] == '\r')
            n--;
    }
    size_t len = (size_t)n;

    char *s;
    if (len < KEEP_BUFFER_BELOW) {
        s = malloc(len + 1);
        if (s == NULL)
            return NULL;
        memcpy(s, buf, len);
    } else {
        /* Shrinking gives the block its exact size, mostly without a copy. */
        s = realloc(buf, len + 1);
        if (s == NULL)
            return NULL;
        buf = NULL;
        cap = 0;
    }
    s[len] = '\0';

    if (!keep(s)) {
        free(s);
        return NULL;
    }
    return s;
}
