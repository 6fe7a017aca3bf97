// contactlog: appends one "name,numbers" record to contactlog.txt.
#include <cstdio>

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
    if (numbers == nullptr) {
        fclose(file);
        return 1;
    }

    bool failed = fprintf(file, "%s,%s\n", name, numbers) < 0;
    failed |= fclose(file) != 0;
    return failed ? 1 : 0;
}
