// iscsi-output-flood TARGET_PROGRAM WORKDIR [LIMIT_MIB]: how much memory an initiator that reads
// nothing can make iscsi-target hold. It starts the target with one drive of default settings,
// logs in and sends READ BUFFER commands of 128 KiB (the committed flash) back to back without
// ever reading its socket, for 2 s or until the socket blocks; then it prints the target's peak
// resident memory (VmHWM of /proc/PID/status). The commands are immediate: they take no place in
// the command window of eight, so the target really runs them and queues their answers, which an
// initiator that ignored the window would not achieve (commands beyond it are dropped). With
// LIMIT_MIB the run fails when the peak is above it.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "emulator/iscsi/Pdu.h"
#include "emulator/iscsi/TextKeys.h"

using emulator::Pdu;
using emulator::TextKeys;
using Bytes = std::vector<uint8_t>;

namespace {

const char* const DriveName = "iqn.2025-01.test.flashupgrade:flood";
// READ BUFFER mode 1, buffer 0, offset 0, 128 KiB, control 01h: the committed flash.
const uint8_t FlashReadCdb[10] = {0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x01};
constexpr uint32_t ReadLength = 0x20000;
constexpr int FloodMilliseconds = 2000;
// A send that cannot go on for this long means the socket has blocked: the target reads no more.
constexpr int BlockedMilliseconds = 500;

uint64_t Milliseconds() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

// Starts the target in WORK and returns its pid, with the port it printed; 0 when it did not start.
pid_t StartTarget(const char* program, const std::string& work, uint16_t& port) {
    FILE* config = fopen((work + "/target.cfg").c_str(), "w");
    if (config == nullptr) return 0;
    fprintf(config, "target listen=127.0.0.1:0 log=target.log\ndrive iqn=%s\n", DriveName);
    fclose(config);
    int out[2];
    if (pipe(out) != 0) return 0;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        // The program's path is taken before the working directory changes.
        char* path = realpath(program, nullptr);
        if (path != nullptr && chdir(work.c_str()) == 0) execl(path, path, "target.cfg", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char line[128] = {};
    size_t used = 0;
    pollfd readable = {out[0], POLLIN, 0};
    while (used + 1 < sizeof line && strchr(line, '\n') == nullptr && poll(&readable, 1, 10000) > 0) {
        const ssize_t n = read(out[0], line + used, sizeof line - 1 - used);
        if (n <= 0) break;
        used += static_cast<size_t>(n);
    }
    close(out[0]);
    unsigned value = 0;
    if (sscanf(line, "listening on 127.0.0.1:%u", &value) != 1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return 0;
    }
    port = static_cast<uint16_t>(value);
    return pid;
}

bool ReadFully(int fd, uint8_t* into, size_t length) {
    while (length != 0) {
        pollfd readable = {fd, POLLIN, 0};
        if (poll(&readable, 1, 10000) <= 0) return false;
        const ssize_t n = recv(fd, into, length, 0);
        if (n <= 0) return false;
        into += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// A connected socket logged in to the drive in one operational stage; -1 on failure.
int LogIn(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    Pdu login = Pdu::Make(0x40 | Pdu::LoginRequest, 0x80 | (1 << 2) | 3);
    const uint8_t isid[6] = {0x80, 0x00, 0x00, 0x00, 0x00, 0x01};
    memcpy(login.header + 8, isid, sizeof isid);
    login.Put32(24, 1);
    TextKeys::Append(login.data, "InitiatorName", "iqn.2025-01.test:flood");
    TextKeys::Append(login.data, "SessionType", "Normal");
    TextKeys::Append(login.data, "TargetName", DriveName);
    Bytes wire;
    login.Encode(false, false, wire);
    uint8_t header[Pdu::HeaderLength];
    if (send(fd, wire.data(), wire.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(wire.size()) ||
        !ReadFully(fd, header, sizeof header) || (header[0] & 0x3F) != Pdu::LoginResponse || header[36] != 0) {
        close(fd);
        return -1;
    }
    const size_t data = ((size_t{header[5]} << 16 | size_t{header[6]} << 8 | header[7]) + 3) & ~size_t{3};
    Bytes text(data);
    if (!ReadFully(fd, text.data(), data)) {
        close(fd);
        return -1;
    }
    return fd;
}

// A batch of immediate READ BUFFER commands, CmdSN 2 (the login took 1) for all of them.
Bytes Commands(uint32_t firstTag, size_t count) {
    Bytes wire;
    for (size_t i = 0; i < count; ++i) {
        Pdu command = Pdu::Make(0x40 | Pdu::ScsiCommand, 0xC0);
        command.Put32(16, firstTag + static_cast<uint32_t>(i));
        command.Put32(20, ReadLength);
        command.Put32(24, 2);
        memcpy(command.header + 32, FlashReadCdb, sizeof FlashReadCdb);
        command.Encode(false, false, wire);
    }
    return wire;
}

// Sends commands until FloodMilliseconds have passed or the socket blocks; returns how many
// went out whole, and whether the socket blocked.
size_t Flood(int fd, bool& blocked) {
    constexpr size_t Batch = 64;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
    const uint64_t end = Milliseconds() + FloodMilliseconds;
    size_t bytes = 0;
    uint32_t tag = 1;
    Bytes pending;
    size_t at = 0;
    blocked = false;
    while (Milliseconds() < end) {
        if (at == pending.size()) {
            pending = Commands(tag, Batch);
            tag += Batch;
            at = 0;
        }
        const ssize_t n = send(fd, pending.data() + at, pending.size() - at, MSG_NOSIGNAL);
        if (n > 0) {
            at += static_cast<size_t>(n);
            bytes += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
        pollfd writable = {fd, POLLOUT, 0};
        if (poll(&writable, 1, BlockedMilliseconds) == 0) {
            blocked = true;
            break;
        }
    }
    return bytes / Pdu::HeaderLength;
}

// A field of /proc/PID/status in KiB; 0 when it cannot be read.
unsigned long StatusKiB(pid_t pid, const char* field) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    FILE* status = fopen(path, "r");
    if (status == nullptr) return 0;
    char line[256];
    unsigned long kib = 0;
    const size_t length = strlen(field);
    while (fgets(line, sizeof line, status) != nullptr) {
        if (strncmp(line, field, length) == 0 && line[length] == ':') kib = strtoul(line + length + 1, nullptr, 10);
    }
    fclose(status);
    return kib;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: iscsi-output-flood TARGET_PROGRAM WORKDIR [LIMIT_MIB]\n");
        return 2;
    }
    const std::string work = argv[2];
    mkdir(work.c_str(), 0755);
    uint16_t port = 0;
    const pid_t target = StartTarget(argv[1], work, port);
    if (target == 0) {
        fprintf(stderr, "the target did not start\n");
        return 1;
    }
    const int fd = LogIn(port);
    int failed = fd < 0;
    if (fd >= 0) {
        bool blocked = false;
        const size_t commands = Flood(fd, blocked);
        // The target takes what is already in its socket before the figure is read.
        usleep(300000);
        const unsigned long peak = StatusKiB(target, "VmHWM");
        printf("%zu READ BUFFER commands of 128 KiB sent (%zu MiB of answers asked for), none read, %s\n", commands,
               commands * ReadLength >> 20, blocked ? "until the socket blocked" : "for 2 s");
        printf("iscsi-target peak resident memory (VmHWM): %lu KiB = %.1f MiB; now %lu KiB\n", peak, peak / 1024.0,
               StatusKiB(target, "VmRSS"));
        if (peak == 0 || (argc == 4 && peak > strtoul(argv[3], nullptr, 10) * 1024u)) failed = 1;
        close(fd);
    }
    kill(target, SIGTERM);
    int status = 0;
    waitpid(target, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "the target did not stop cleanly after SIGTERM (status 0x%x)\n", status);
        failed = 1;
    }
    return failed;
}
