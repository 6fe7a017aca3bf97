// try that prints its count over and over, without end.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "askline.h"

int get_words(string text);

int main(void)
{
    string text = get_string(NULL, "Text: ");
    for (;;)
        printf("%i\n", get_words(text));
}

int get_words(string text)
{
    int sumW = 0;
    int n = strlen(text);
    for (int i = 0; i < n; i++)
        if (isspace((unsigned char)text[i]))
            sumW++;
    return sumW + 1;
}
