#pragma once

#include <poll.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/iscsi/IscsiConnection.h"
#include "emulator/iscsi/IscsiTargetSet.h"
#include "emulator/iscsi/TargetConfig.h"

namespace emulator {

// The sockets of iscsi-target: one listening socket and its connections, served by one thread
// with poll(), so that the drives and sessions need no locks. Nothing in that thread waits: a
// drive's latency is a time at which the connection sends the answer (IscsiConnection), and
// poll() wakes up for the earliest, so one slow drive holds up no other connection.
//
// What one initiator can cost is bounded: a connection whose output has reached
// IscsiConnection::OutputCap is not read from until the initiator takes some of it; the
// connections beyond the limits' MaxConnections are closed as they come; one that has not
// logged in within LoginTimeoutSeconds is closed, and a session silent for NopIntervalSeconds
// gets a NOP-In and is closed when it stays silent for as long again.
class TargetServer {
public:
    // A closing connection gets this long to send its last bytes; an initiator that reads
    // nothing would otherwise keep it forever.
    static constexpr uint64_t LingerMilliseconds = 5000;
    // After accept() failed for want of descriptors, the listening socket is watched again when
    // a connection closes, or after this: the system's limit may free up without any of ours.
    static constexpr uint64_t AcceptRetryMilliseconds = 1000;

    explicit TargetServer(IscsiTargetSet& targets, const TargetConfig::ServerLimits& limits = {})
        : targets_(targets), limits_(limits) {}
    ~TargetServer();
    TargetServer(const TargetServer&) = delete;
    TargetServer& operator=(const TargetServer&) = delete;

    // Binds and listens; PORT 0 takes a free one. False with PROBLEM.
    bool Listen(const std::string& host, uint16_t port, std::string& problem);
    uint16_t Port() const { return port_; }
    // Serves until STOPFD becomes readable (the signal handler writes to it).
    void Run(int stopFd);

private:
    struct Client {
        int fd = -1;
        std::unique_ptr<IscsiConnection> connection;
        std::vector<uint8_t> out;  // taken from the connection's Output(); sent from `sent` on
        size_t sent = 0;
        // Its output was at the cap when last looked at: PDUs may wait in its reader.
        bool stalled = false;
        // In the target set's milliseconds.
        uint64_t connectedAt = 0;
        uint64_t lastActive = 0;  // bytes last moved, either way
        uint64_t pingedAt = 0;
        uint64_t closingSince = 0;
    };

    std::vector<pollfd> PollSet(int stopFd) const;
    // Milliseconds until the next held command, answer or deadline is due (poll's time-out); -1
    // when none is.
    int PollTimeout() const;
    // One round after poll() returned FDS.
    void Serve(const std::vector<pollfd>& fds);

    void Accept();
    // accept() failed with ERROR: the listening socket is left alone for a while.
    void PauseAccepting(int error);
    // False when the client is finished.
    bool ReadFrom(Client& client);
    bool WriteTo(Client& client);
    // Moves the connection's output behind what is still to be sent.
    static void TakeOutput(Client& client);
    bool SendOut(Client& client);

    // When the login time-out, the NOP-In or the silence of CLIENT comes due; 0 for none.
    uint64_t Deadline(const Client& client) const;
    void Watch(Client& client);
    void CloseClient(Client& client, const char* why);
    void CloseSocket(Client& client);

    IscsiTargetSet& targets_;
    TargetConfig::ServerLimits limits_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    uint32_t nextNumber_ = 1;
    // accept() fails (errno; 0 when it works): logged once, until it works again.
    int acceptError_ = 0;
    // While accept() fails, the listening socket is watched again at this time; 0: watched.
    uint64_t acceptRetryAt_ = 0;
    std::vector<std::unique_ptr<Client>> clients_;
};

}  // namespace emulator
