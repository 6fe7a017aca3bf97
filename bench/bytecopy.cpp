// The plain byte-wise copy fileclone is measured against: one byte per fread
// and per fwrite with the streams' default buffers, and no checks at all.
// A third argument sets both buffers to that many bytes instead.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (argc < 3)
        return 2;
    FILE *src = fopen(argv[1], "rb");
    FILE *dst = fopen(argv[2], "wb");
    if (src == nullptr || dst == nullptr)
        return 1;
    if (argc > 3) {
        size_t size = strtoul(argv[3], nullptr, 10);
        setvbuf(src, nullptr, _IOFBF, size);
        setvbuf(dst, nullptr, _IOFBF, size);
    }
    uint8_t b;
    while (fread(&b, 1, 1, src) == 1)
        fwrite(&b, 1, 1, dst);
    fclose(dst);
    fclose(src);
    return 0;
}
