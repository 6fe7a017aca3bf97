// A byte-wise copy without stream buffers: one read and one write system
// call per byte.
#include <cstdint>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 3)
        return 2;
    int src = open(argv[1], O_RDONLY);
    int dst = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (src < 0 || dst < 0)
        return 1;
    uint8_t b;
    while (read(src, &b, 1) == 1)
        if (write(dst, &b, 1) != 1)
            return 1;
    close(dst);
    close(src);
    return 0;
}
