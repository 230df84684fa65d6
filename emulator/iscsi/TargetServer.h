#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/iscsi/IscsiConnection.h"
#include "emulator/iscsi/IscsiTargetSet.h"

namespace emulator {

// The sockets of iscsi-target: one listening socket and its connections, served by one thread
// with poll(), so that the drives and sessions need no locks. Nothing in that thread waits: a
// drive's latency is a time at which the connection sends the answer (IscsiConnection), and
// poll() wakes up for the earliest, so one slow drive holds up no other connection.
class TargetServer {
public:
    // Output queued beyond this stops reading from that connection until it drains.
    static constexpr size_t MaxQueuedOutput = 32u << 20;

    explicit TargetServer(IscsiTargetSet& targets) : targets_(targets) {}
    ~TargetServer();
    TargetServer(const TargetServer&) = delete;
    TargetServer& operator=(const TargetServer&) = delete;

    // Binds and listens; PORT 0 takes a free one. False with PROBLEM.
    bool Listen(const std::string& host, uint16_t port, std::string& problem);
    uint16_t Port() const { return port_; }
    // Serves until STOPFD becomes readable (the signal handler writes to it).
    void Run(int stopFd);

private:
    // Milliseconds until the next held command or answer is due (poll's time-out); -1 when none is.
    int PollTimeout() const;
    struct Client {
        int fd;
        std::unique_ptr<IscsiConnection> connection;
        std::vector<uint8_t> out;
        size_t sent;
    };

    void Accept();
    // False when the client is finished.
    bool ReadFrom(Client& client);
    bool WriteTo(Client& client);
    void CloseClient(Client& client, const char* why);

    IscsiTargetSet& targets_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    uint32_t nextNumber_ = 1;
    std::vector<std::unique_ptr<Client>> clients_;
};

}  // namespace emulator
