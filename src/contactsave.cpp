// contactsave: replaces contactlog.txt with one contact, name and numbers on
// two lines, with no line feed after the numbers.
#include <cstdio>

#include <unistd.h>

#include "askline.h"

int main()
{
    // Both answers are taken before the file is touched: end of input leaves
    // it as it was.
    string name = get_string(nullptr, "name: ");
    string numbers = name != nullptr ? get_string(nullptr, "numbers: ") : nullptr;
    if (numbers == nullptr)
        return 1;

    FILE *file = fopen("contactlog.txt", "w");
    if (file == nullptr)
        return 1;
    // A write that fails part-way (disk full, a size limit) leaves no part
    // of a record: the file is emptied again.
    bool failed = fprintf(file, "%s\n%s", name, numbers) < 0;
    failed |= fflush(file) != 0;
    if (failed)
        (void)!ftruncate(fileno(file), 0);
    failed |= fclose(file) != 0;
    return failed ? 1 : 0;
}
