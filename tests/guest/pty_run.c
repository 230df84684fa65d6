/* pty_run LOG PATTERN COUNT ACTION COMMAND...: runs COMMAND as the only process of a new session
 * whose controlling terminal is a fresh pseudo-terminal, keeps what COMMAND writes to it in LOG,
 * and when PATTERN has appeared COUNT times in that output does ACTION once, as a user at that
 * terminal would:
 *   intr    types Ctrl-C (the terminal sends SIGINT to the foreground process group);
 *   hangup  closes the terminal (the kernel sends SIGHUP, later writes fail);
 *   none    nothing.
 * Waits for COMMAND and prints "pty_run: exit N" or "pty_run: signal N"; exits with N, or with
 * 128+N for a signal, as a shell would. Built static for the test guest (devpts mounted). */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

static char seen[1 << 20];
static size_t seenLength;

static int Occurrences(const char* pattern) {
    int count = 0;
    const size_t length = strlen(pattern);
    for (const char* at = seen; (at = memmem(at, seenLength - (size_t)(at - seen), pattern, length)) != NULL;
         at += length) {
        ++count;
    }
    return count;
}

static pid_t Start(int master, char** command) {
    const pid_t child = fork();
    if (child != 0) return child;
    setsid();
    const int slave = open(ptsname(master), O_RDWR);
    if (slave < 0 || ioctl(slave, TIOCSCTTY, 0) != 0) _exit(126);
    dup2(slave, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    if (slave > 2) close(slave);
    close(master);
    execvp(command[0], command);
    _exit(127);
}

int main(int argc, char** argv) {
    if (argc < 6) {
        fprintf(stderr, "usage: pty_run LOG PATTERN COUNT intr|hangup|none COMMAND...\n");
        return 2;
    }
    const char* pattern = argv[2];
    const int count = atoi(argv[3]);
    const char* action = argv[4];
    FILE* log = fopen(argv[1], "w");
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (log == NULL || master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        fprintf(stderr, "pty_run: no pseudo-terminal: %s\n", strerror(errno));
        return 2;
    }
    const pid_t child = Start(master, argv + 5);
    int done = 0;
    while (master >= 0) {
        char buffer[4096];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; /* EIO once the command and its terminal are gone */
        fwrite(buffer, 1, (size_t)n, log);
        fflush(log);
        if (seenLength + (size_t)n <= sizeof seen) {
            memcpy(seen + seenLength, buffer, (size_t)n);
            seenLength += (size_t)n;
        }
        if (done || Occurrences(pattern) < count) continue;
        done = 1;
        if (strcmp(action, "intr") == 0) {
            const char interrupt = 0x03;
            if (write(master, &interrupt, 1) != 1) perror("pty_run: write");
        } else if (strcmp(action, "hangup") == 0) {
            close(master);
            master = -1;
        }
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (master >= 0) close(master);
    fclose(log);
    if (WIFSIGNALED(status)) {
        printf("pty_run: signal %d\n", WTERMSIG(status));
        return 128 + WTERMSIG(status);
    }
    printf("pty_run: exit %d\n", WEXITSTATUS(status));
    return WEXITSTATUS(status);
}
