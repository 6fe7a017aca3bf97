/* askline: ask for a line of input behind a prompt. */
#ifndef ASKLINE_H
#define ASKLINE_H

#include <stdarg.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef char *string;

#if defined(__GNUC__) || defined(__clang__)
#define ASKLINE_API __attribute__((visibility("default")))
#define ASKLINE_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define ASKLINE_API
#define ASKLINE_PRINTF(f, a)
#endif

/*
 * Print the prompt (formatted from *args when args is not null, else from
 * the arguments after format) on standard output, flush it, and read one
 * line from standard input.
 *
 * Returns the line without its line feed (and without a carriage return
 * right before the line feed), or null at end of input or on an error.
 * Each line is a block of its own, exactly its length plus one byte,
 * writable, and left alone until exit, when the library frees it.
 */
ASKLINE_API string get_string(va_list *args, const char *format, ...) ASKLINE_PRINTF(2, 3);

#ifdef __cplusplus
}
#endif

#endif
