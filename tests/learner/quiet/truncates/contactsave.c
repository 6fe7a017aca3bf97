// contactsave that opens the file before it asks: end of input leaves the
// old contact lost, an empty file in its place.
#include <stdio.h>

#include "askline.h"

int main(void)
{
    FILE *file = fopen("contactlog.txt", "w");
    if (file == NULL)
        return 1;
    string name = get_string(NULL, "name: ");
    string numbers = name != NULL ? get_string(NULL, "numbers: ") : NULL;
    if (numbers == NULL)
        return 1;
    fprintf(file, "%s\n%s", name, numbers);
    fclose(file);
    return 0;
}
