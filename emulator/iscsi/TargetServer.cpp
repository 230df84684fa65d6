#include "emulator/iscsi/TargetServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace emulator {

namespace {

void NonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

std::string LocalAddress(int fd) {
    sockaddr_storage address = {};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return "127.0.0.1:3260";
    char host[INET6_ADDRSTRLEN] = {};
    char text[INET6_ADDRSTRLEN + 16];
    if (address.ss_family == AF_INET6) {
        const sockaddr_in6* a = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
        snprintf(text, sizeof text, "[%s]:%u", host, ntohs(a->sin6_port));
    } else {
        const sockaddr_in* a = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
        snprintf(text, sizeof text, "%s:%u", host, ntohs(a->sin_port));
    }
    return text;
}

// What the connections count a drop's refusal of logins, held commands and the drives' latency
// in; never set back by a change of the wall clock.
uint64_t MonotonicMilliseconds() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace

TargetServer::~TargetServer() {
    for (auto& client : clients_) {
        if (client->fd >= 0) close(client->fd);
    }
    if (listenFd_ >= 0) close(listenFd_);
}

bool TargetServer::Listen(const std::string& host, uint16_t port, std::string& problem) {
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    char service[8];
    snprintf(service, sizeof service, "%u", port);
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), service, &hints, &found);
    if (rc != 0 || found == nullptr) {
        problem = "listen address " + host + ": " + gai_strerror(rc);
        return false;
    }
    listenFd_ = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (listenFd_ < 0) {
        problem = std::string("socket: ") + strerror(errno);
        freeaddrinfo(found);
        return false;
    }
    const int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const bool bound = bind(listenFd_, found->ai_addr, found->ai_addrlen) == 0;
    freeaddrinfo(found);
    if (!bound || listen(listenFd_, 16) != 0) {
        problem = "cannot listen on " + host + ":" + service + ": " + strerror(errno);
        return false;
    }
    NonBlocking(listenFd_);
    sockaddr_storage address = {};
    socklen_t length = sizeof address;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = address.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                                          : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return true;
}

namespace {

// The most buffer a connection keeps once its output has been sent.
constexpr size_t KeptBuffer = 256u << 10;

// Errors of accept() that pass at once: an interruption, or the network errors of the one
// connection being accepted, which accept(2) asks to retry as after EAGAIN. The others (no
// descriptor, no memory) are the process's or the system's and last a while.
bool PassingError(int error) {
    switch (error) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH: return true;
    default: return false;
    }
}

}  // namespace

void TargetServer::Accept() {
    for (;;) {
        const int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            if (PassingError(errno)) continue;
            PauseAccepting(errno);
            return;
        }
        if (acceptError_ != 0) {
            targets_.Log().Line("accepting connections again");
            acceptError_ = 0;
        }
        const uint32_t number = nextNumber_++;
        if (clients_.size() >= limits_.MaxConnections) {
            close(fd);
            targets_.Log().Line("c%u refused: %zu connections open (max-connections=%u)", number, clients_.size(),
                                limits_.MaxConnections);
            continue;
        }
        NonBlocking(fd);
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::unique_ptr<Client> client(new Client);
        client->fd = fd;
        client->connectedAt = client->lastActive = targets_.Now();
        client->connection.reset(new IscsiConnection(targets_, number, LocalAddress(fd)));
        targets_.Log().Line("c%u connected", number);
        clients_.push_back(std::move(client));
    }
}

void TargetServer::PauseAccepting(int error) {
    // Without a descriptor the pending connection stays queued and the listening socket readable:
    // watched on, it would make every poll() return at once.
    acceptRetryAt_ = targets_.Now() + AcceptRetryMilliseconds;
    if (acceptError_ == error) return;
    acceptError_ = error;
    targets_.Log().Line("accept: %s; new connections wait until one closes", strerror(error));
}

bool TargetServer::ReadFrom(Client& client) {
    uint8_t buffer[65536];
    const ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
    if (n == 0) {
        client.connection->Dropped("the initiator closed the connection");
        return false;
    }
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return true;
        client.connection->Dropped(strerror(errno));
        return false;
    }
    client.lastActive = targets_.Now();
    client.connection->Receive(buffer, static_cast<size_t>(n));
    client.stalled = client.connection->Saturated();
    return true;
}

bool TargetServer::WriteTo(Client& client) {
    IscsiConnection& connection = *client.connection;
    for (;;) {
        TakeOutput(client);
        if (!SendOut(client)) return false;
        connection.SetBacklog(client.out.size() - client.sent);
        if (!client.stalled || connection.Saturated()) return true;
        // Below the cap again: the PDUs left in the reader run, and their output goes out too.
        connection.Resume();
        client.stalled = connection.Saturated();
        if (connection.Output().empty()) return true;
    }
}

void TargetServer::TakeOutput(Client& client) {
    std::vector<uint8_t>& pending = client.connection->Output();
    if (client.sent == client.out.size()) {
        client.out.clear();
        client.sent = 0;
        client.out.swap(pending);
        return;
    }
    if (pending.empty()) return;
    // What was sent goes once it is half the buffer: each byte is moved at most about once.
    if (client.sent >= client.out.size() - client.sent) {
        client.out.erase(client.out.begin(), client.out.begin() + static_cast<std::ptrdiff_t>(client.sent));
        client.sent = 0;
    }
    client.out.insert(client.out.end(), pending.begin(), pending.end());
    pending.clear();
}

bool TargetServer::SendOut(Client& client) {
    while (client.sent < client.out.size()) {
        const ssize_t n = send(client.fd, client.out.data() + client.sent, client.out.size() - client.sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            if (errno == EINTR) continue;
            client.connection->Dropped(strerror(errno));
            return false;
        }
        client.sent += static_cast<size_t>(n);
        client.lastActive = targets_.Now();
    }
    if (client.sent == client.out.size()) {
        // The buffer goes back to the connection with the next output (TakeOutput): one that held
        // a large answer is let go, so that an idle connection keeps no megabytes.
        if (client.out.capacity() > KeptBuffer) {
            std::vector<uint8_t>().swap(client.out);
        } else {
            client.out.clear();
        }
        client.sent = 0;
    }
    return true;
}

uint64_t TargetServer::Deadline(const Client& client) const {
    const IscsiConnection& connection = *client.connection;
    if (connection.Closing()) return client.closingSince == 0 ? 0 : client.closingSince + LingerMilliseconds;
    if (!connection.InFullFeature()) return client.connectedAt + uint64_t{limits_.LoginTimeoutSeconds} * 1000u;
    if (limits_.NopIntervalSeconds == 0) return 0;
    const uint64_t interval = uint64_t{limits_.NopIntervalSeconds} * 1000u;
    if (!connection.PingOutstanding()) return client.lastActive + interval;
    return std::max(client.lastActive, client.pingedAt) + interval;
}

void TargetServer::Watch(Client& client) {
    IscsiConnection& connection = *client.connection;
    const uint64_t now = targets_.Now();
    // Answers held back for a drive's latency, with nothing else to send: the wait is the
    // target's, not the initiator's silence.
    if (connection.Saturated() && client.out.empty()) client.lastActive = now;
    if (connection.Closing() && client.closingSince == 0) client.closingSince = now;
    const uint64_t due = Deadline(client);
    if (due == 0 || now < due) return;
    char why[96];
    if (connection.Closing()) {
        targets_.Log().Line("c%u closed with %zu bytes not taken in %llu s", connection.Number(),
                            client.out.size() - client.sent + connection.Output().size(),
                            static_cast<unsigned long long>(LingerMilliseconds / 1000u));
        CloseSocket(client);
    } else if (!connection.InFullFeature()) {
        snprintf(why, sizeof why, "no login within %u s (login-timeout)", limits_.LoginTimeoutSeconds);
        connection.ForceClose(why);
    } else if (!connection.PingOutstanding()) {
        connection.Ping();
        client.pingedAt = now;
    } else {
        snprintf(why, sizeof why, "silent for %u s after a NOP-In (nop-interval)", limits_.NopIntervalSeconds);
        connection.ForceClose(why);
    }
}

void TargetServer::CloseClient(Client& client, const char* why) {
    client.connection->Dropped(why);
    CloseSocket(client);
}

void TargetServer::CloseSocket(Client& client) {
    close(client.fd);
    client.fd = -1;
    // A descriptor is free again: a connection that accept() could not take may be taken now.
    acceptRetryAt_ = 0;
}

int TargetServer::PollTimeout() const {
    uint64_t next = acceptRetryAt_;
    for (const auto& client : clients_) {
        if (client->fd < 0) continue;
        for (const uint64_t due : {client->connection->NextRelease(), Deadline(*client)}) {
            if (due != 0 && (next == 0 || due < next)) next = due;
        }
    }
    if (next == 0) return -1;
    const uint64_t now = MonotonicMilliseconds();
    return next <= now ? 0 : static_cast<int>(std::min<uint64_t>(next - now, 60000));
}

std::vector<pollfd> TargetServer::PollSet(int stopFd) const {
    std::vector<pollfd> fds;
    fds.push_back({stopFd, POLLIN, 0});
    // -1: poll() skips the entry; its place keeps the clients' indexes.
    fds.push_back({acceptRetryAt_ == 0 ? listenFd_ : -1, POLLIN, 0});
    for (const auto& client : clients_) {
        const IscsiConnection& connection = *client->connection;
        short events = 0;
        // Saturated: its commands wait in the socket, not in our memory.
        if (!connection.Closing() && !connection.Saturated()) events |= POLLIN;
        if (client->sent < client->out.size()) events |= POLLOUT;
        fds.push_back({client->fd, events, 0});
    }
    return fds;
}

void TargetServer::Run(int stopFd) {
    for (;;) {
        std::vector<pollfd> fds = PollSet(stopFd);
        if (poll(fds.data(), fds.size(), PollTimeout()) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0) break;
        targets_.SetNow(MonotonicMilliseconds());
        if (acceptRetryAt_ != 0 && targets_.Now() >= acceptRetryAt_) acceptRetryAt_ = 0;
        Serve(fds);
        clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                      [](const std::unique_ptr<Client>& client) { return client->fd < 0; }),
                       clients_.end());
    }
    for (auto& client : clients_) {
        if (client->fd >= 0) CloseClient(*client, "the target stops");
    }
    clients_.clear();
}

void TargetServer::Serve(const std::vector<pollfd>& fds) {
    for (auto& client : clients_) client->connection->ReleaseDue();
    // The clients accepted now have no entry in FDS; they are served from the next round on.
    const size_t polled = clients_.size();
    if (fds[1].revents & POLLIN) Accept();
    for (size_t i = 0; i < polled; ++i) {
        Client& client = *clients_[i];
        bool alive = true;
        if (fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) alive = ReadFrom(client);
        if (alive && client.connection->Severed()) {
            // The drop logged itself; the bytes still queued go with the link.
            CloseSocket(client);
            continue;
        }
        if (alive) alive = WriteTo(client);
        if (!alive) CloseClient(client, "connection lost");
    }
    // Deadlines, and another session's task management or reinstatement may have ended a
    // connection, and a logout ends its own: close those whose last bytes are out.
    for (auto& client : clients_) {
        if (client->fd < 0) continue;
        Watch(*client);
        if (client->fd >= 0 && !WriteTo(*client)) CloseClient(*client, "connection lost");
        if (client->fd >= 0 && client->connection->Closing() && client->sent >= client->out.size() &&
            client->connection->Output().empty()) {
            CloseSocket(*client);
        }
    }
}

}  // namespace emulator
