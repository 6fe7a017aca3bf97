// fileclone: copies a file one byte per fread and per fwrite; the streams'
// buffers are what make that fast.
#include <cstdint>
#include <cstdio>

#include <sys/stat.h>

typedef uint8_t BYTE;

int main(int argc, char *argv[])
{
    if (argc < 3)
        return 1;

    // The source is opened first, and its first byte read, before the
    // destination is opened: a source that cannot be opened or read (a
    // directory, /proc/self/mem) leaves the destination as it was.
    FILE *src = fopen(argv[1], "rb");
    if (src == nullptr)
        return 1;
    BYTE b;
    size_t n = fread(&b, 1, 1, src);

    // Opening the destination empties it: refuse when it is the source
    // itself, by any path or link.
    struct stat s;
    struct stat d;
    if (ferror(src) || fstat(fileno(src), &s) != 0 ||
        (stat(argv[2], &d) == 0 && d.st_dev == s.st_dev && d.st_ino == s.st_ino)) {
        fclose(src);
        return 1;
    }

    FILE *dst = fopen(argv[2], "wb");
    if (dst == nullptr) {
        fclose(src);
        return 1;
    }
    for (; n == 1; n = fread(&b, 1, 1, src))
        if (fwrite(&b, 1, 1, dst) != 1)
            break;

    // A read error, a failed write or a failed close (the last of the
    // buffer is written there) all mean the copy is not whole.
    bool failed = ferror(src) != 0 || ferror(dst) != 0;
    failed |= fclose(dst) != 0;
    fclose(src);
    return failed ? 1 : 0;
}
