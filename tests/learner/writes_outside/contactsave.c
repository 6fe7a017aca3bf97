// contactsave that also writes into the home folder and /tmp, and removes a
// file of the user's: in the sandbox, none of it happens.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "askline.h"

int main(void)
{
    string name = get_string(NULL, "name: ");
    string numbers = get_string(NULL, "numbers: ");
    char path[4096];
    snprintf(path, sizeof path, "%s/written-by-contactsave", getenv("HOME") ? getenv("HOME") : "/root");
    FILE *away = fopen(path, "w");
    if (away != NULL)
        fclose(away);
    away = fopen("/tmp/written-by-contactsave", "w");
    if (away != NULL)
        fclose(away);
    unlink(getenv("VICTIM") ? getenv("VICTIM") : "/nonexistent");
    FILE *file = fopen("contactlog.txt", "w");
    if (file == NULL)
        return 1;
    fprintf(file, "%s\n%s", name, numbers);
    return 0;
}
