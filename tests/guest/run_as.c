/* run_as UID GID PROGRAM ARGS...: runs PROGRAM as that user and group alone (no supplementary
 * groups, no capabilities left), as an unprivileged user of the guest would run it. */
#include <grp.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: run_as UID GID PROGRAM ARGS...\n");
        return 125;
    }
    gid_t gid = (gid_t)strtoul(argv[2], NULL, 10);
    if (setgroups(0, NULL) != 0 || setgid(gid) != 0 || setuid((uid_t)strtoul(argv[1], NULL, 10)) != 0) {
        perror("run_as");
        return 125;
    }
    execv(argv[3], argv + 3);
    perror(argv[3]);
    return 127;
}
