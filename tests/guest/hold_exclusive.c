/* hold_exclusive NODE: holds NODE open exclusively (O_EXCL, as a mount or a burning program
 * claims a drive) until it is killed; prints "holding NODE" once it has the claim. A generic
 * node (/dev/sgN) takes O_EXCL only with O_RDWR, a block node read-only as a mount would.
 * Built static, so that it runs in the test guest, which has no C library of its own for it. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: hold_exclusive NODE\n");
        return 2;
    }
    const int access = strncmp(argv[1], "/dev/sg", 7) == 0 ? O_RDWR : O_RDONLY;
    int fd = open(argv[1], access | O_NONBLOCK | O_EXCL);
    if (fd < 0) {
        fprintf(stderr, "hold_exclusive: %s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    printf("holding %s\n", argv[1]);
    fflush(stdout);
    for (;;) pause();
}
