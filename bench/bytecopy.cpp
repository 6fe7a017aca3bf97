// The plain byte-wise copy fileclone is measured against: one byte per fread
// and per fwrite with the streams' own buffers, and no checks at all.
#include <cstdint>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc < 3)
        return 2;
    FILE *src = fopen(argv[1], "rb");
    FILE *dst = fopen(argv[2], "wb");
    if (src == nullptr || dst == nullptr)
        return 1;
    uint8_t b;
    while (fread(&b, 1, 1, src) == 1)
        fwrite(&b, 1, 1, dst);
    fclose(dst);
    fclose(src);
    return 0;
}
