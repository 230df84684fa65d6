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

void TargetServer::Accept() {
    for (;;) {
        const int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0) return;
        NonBlocking(fd);
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::unique_ptr<Client> client(new Client);
        client->fd = fd;
        client->sent = 0;
        const uint32_t number = nextNumber_++;
        client->connection.reset(new IscsiConnection(targets_, number, LocalAddress(fd)));
        targets_.Log().Line("c%u connected", number);
        clients_.push_back(std::move(client));
    }
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
    client.connection->Receive(buffer, static_cast<size_t>(n));
    return true;
}

bool TargetServer::WriteTo(Client& client) {
    std::vector<uint8_t>& pending = client.connection->Output();
    if (!pending.empty()) {
        client.out.insert(client.out.end(), pending.begin(), pending.end());
        pending.clear();
    }
    while (client.sent < client.out.size()) {
        const ssize_t n = send(client.fd, client.out.data() + client.sent, client.out.size() - client.sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            if (errno == EINTR) continue;
            client.connection->Dropped(strerror(errno));
            return false;
        }
        client.sent += static_cast<size_t>(n);
    }
    if (client.sent == client.out.size()) {
        client.out.clear();
        client.sent = 0;
    }
    return true;
}

void TargetServer::CloseClient(Client& client, const char* why) {
    client.connection->Dropped(why);
    close(client.fd);
    client.fd = -1;
}

int TargetServer::PollTimeout() const {
    uint64_t next = 0;
    for (const auto& client : clients_) {
        const uint64_t due = client->fd >= 0 ? client->connection->NextRelease() : 0;
        if (due != 0 && (next == 0 || due < next)) next = due;
    }
    if (next == 0) return -1;
    const uint64_t now = MonotonicMilliseconds();
    return next <= now ? 0 : static_cast<int>(std::min<uint64_t>(next - now, 60000));
}

void TargetServer::Run(int stopFd) {
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({stopFd, POLLIN, 0});
        fds.push_back({listenFd_, POLLIN, 0});
        for (auto& client : clients_) {
            short events = 0;
            if (!client->connection->Closing() && client->out.size() - client->sent < MaxQueuedOutput) events |= POLLIN;
            if (client->sent < client->out.size()) events |= POLLOUT;
            fds.push_back({client->fd, events, 0});
        }
        if (poll(fds.data(), fds.size(), PollTimeout()) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0) break;
        targets_.SetNow(MonotonicMilliseconds());
        for (auto& client : clients_) {
            if (client->fd >= 0) client->connection->ReleaseDue();
        }
        if (fds[1].revents & POLLIN) Accept();
        for (size_t i = 0; i < clients_.size() && i + 2 < fds.size(); ++i) {
            Client& client = *clients_[i];
            bool alive = true;
            const short revents = fds[i + 2].revents;
            if (revents & (POLLIN | POLLHUP | POLLERR)) alive = ReadFrom(client);
            if (alive && client.connection->Severed()) {
                // The drop logged itself; the bytes still queued go with the link.
                close(client.fd);
                client.fd = -1;
                continue;
            }
            if (alive) alive = WriteTo(client);
            if (!alive) {
                CloseClient(client, "connection lost");
            }
        }
        // Another session's task management or reinstatement may have ended a connection, and a
        // logout ends its own: close those whose last bytes are out.
        for (auto& client : clients_) {
            if (client->fd >= 0) {
                WriteTo(*client);
                if (client->fd >= 0 && client->connection->Closing() && client->sent >= client->out.size()) {
                    close(client->fd);
                    client->fd = -1;
                }
            }
        }
        for (size_t i = 0; i < clients_.size();) {
            if (clients_[i]->fd < 0) {
                clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
    }
    for (auto& client : clients_) {
        if (client->fd >= 0) CloseClient(*client, "the target stops");
    }
    clients_.clear();
}

}  // namespace emulator
