// A program that tries to outlive its run (a daemon: a child in a session
// of its own that sleeps on), or with "kill" to end every process it may.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc > 1 && strcmp(argv[1], "kill") == 0)
        return kill(-1, SIGKILL);
    if (fork() == 0) {
        setsid();
        if (fork() == 0)
            sleep(60);
        return 0;
    }
    printf("parent\n");
    return 0;
}
