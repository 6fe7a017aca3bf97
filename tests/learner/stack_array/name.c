// A name in an array on the stack: the bytes after the closing zero are never
// set; and an array longer than a picture, set only at its end.
#include <stdio.h>
#include <string.h>

int main(void)
{
    char name[8];
    strcpy(name, "bob");
    char *p = name + 3;
    char big[10000];
    big[9999] = 'z';
    printf("%s %d %c\n", name, *p, big[9999]);
    return 0;
}
