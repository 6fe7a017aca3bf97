// contactlog: appends one "name,numbers" record to contactlog.txt.
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

#include "askline.h"

int main()
{
    // Opened before anything is asked: nobody types a contact that cannot be kept.
    FILE *file = fopen("contactlog.txt", "a");
    if (file == nullptr)
        return 1;

    // Nothing is written until both answers are in, so end of input leaves
    // no part of a record behind.
    string name = get_string(nullptr, "name: ");
    string numbers = name != nullptr ? get_string(nullptr, "numbers: ") : nullptr;
    struct stat before;
    if (numbers == nullptr || fstat(fileno(file), &before) != 0) {
        fclose(file);
        return 1;
    }

    // A write that fails part-way (disk full, a size limit) is cut off
    // again, so the file only ever holds whole records.
    bool failed = fprintf(file, "%s,%s\n", name, numbers) < 0;
    failed |= fflush(file) != 0;
    if (failed)
        (void)!ftruncate(fileno(file), before.st_size);
    failed |= fclose(file) != 0;
    return failed ? 1 : 0;
}
