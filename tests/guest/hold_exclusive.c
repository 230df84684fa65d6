/* hold_exclusive NODE: claims a drive's block node exclusively, as a mount or a burning program
 * does, prints "held" and keeps the claim until it is killed. */
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: hold_exclusive NODE\n");
        return 2;
    }
    int fd = open(argv[1], O_RDONLY | O_NONBLOCK | O_EXCL);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    for (;;) pause();
}
