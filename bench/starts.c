/*
 * starts N INPUT PROGRAM [ARGS...]: starts PROGRAM N times, each with its
 * standard input on the file INPUT and its output on /dev/null, waits for
 * each to end, and prints the median time of one whole run in microseconds.
 * (hyperfine 1.15 gives a program no standard input without a shell, and
 * cannot take the shell's own start out of runs this short.)
 */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

static int less(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

int main(int argc, char *argv[])
{
    if (argc < 4)
        return 2;
    int n = atoi(argv[1]);
    double *us = malloc(sizeof *us * (size_t)n);
    if (n < 1 || us == NULL)
        return 2;
    for (int i = 0; i < n; i++) {
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, argv[2], O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        struct timespec t0, t1;
        clock_gettime(CLOCK_MONOTONIC, &t0);
        pid_t pid;
        int status;
        if (posix_spawn(&pid, argv[3], &fa, NULL, argv + 3, environ) != 0 ||
            waitpid(pid, &status, 0) != pid)
            return 1;
        clock_gettime(CLOCK_MONOTONIC, &t1);
        posix_spawn_file_actions_destroy(&fa);
        us[i] = (double)(t1.tv_sec - t0.tv_sec) * 1e6 + (double)(t1.tv_nsec - t0.tv_nsec) / 1e3;
    }
    qsort(us, (size_t)n, sizeof *us, less);
    printf("%.1f\n", us[n / 2]);
    return 0;
}
