// TargetServer on a real socket: one thread serves every connection, and a drive's latency holds
// up no connection but its own.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "emulator/iscsi/IscsiTargetSet.h"
#include "emulator/iscsi/Pdu.h"
#include "emulator/iscsi/PduReader.h"
#include "emulator/iscsi/TargetServer.h"
#include "emulator/iscsi/TextKeys.h"

using emulator::IscsiTargetSet;
using emulator::Pdu;
using emulator::PduReader;
using emulator::TargetServer;
using emulator::TextKeys;
using Bytes = std::vector<uint8_t>;

namespace {

const char* const SlowDrive = "iqn.2025-01.test.flashupgrade:slow";
const char* const QuickDrive = "iqn.2025-01.test.flashupgrade:quick";
const Bytes IdentityCdb = {0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00};

// The server's loop on a thread of its own, stopped the way the signal handler stops it.
class RunningServer {
public:
    explicit RunningServer(IscsiTargetSet& targets) : server_(targets) {
        std::string problem;
        if (pipe(stop_) != 0 || !server_.Listen("127.0.0.1", 0, problem)) return;
        thread_ = std::thread([this] { server_.Run(stop_[0]); });
    }
    ~RunningServer() {
        Stop();
        for (int fd : stop_) {
            if (fd >= 0) close(fd);
        }
    }
    bool Running() const { return thread_.joinable(); }
    uint16_t Port() const { return server_.Port(); }
    void Stop() {
        if (!thread_.joinable()) return;
        const char byte = 1;
        EXPECT_EQ(write(stop_[1], &byte, 1), 1);
        thread_.join();
    }

private:
    TargetServer server_;
    int stop_[2] = {-1, -1};
    std::thread thread_;
};

// A blocking initiator with one session on one socket, no digests.
class SocketInitiator {
public:
    explicit SocketInitiator(uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            close(fd_);
            fd_ = -1;
        }
        reader_.SetMaxDataSegment(1u << 24);
    }
    ~SocketInitiator() {
        if (fd_ >= 0) close(fd_);
    }

    bool Login(const char* target) {
        Pdu login = Pdu::Make(0x40 | Pdu::LoginRequest, 0x80 | (1 << 2) | 3);  // operational to full feature
        const uint8_t isid[6] = {0x80, 0x12, 0x34, 0x56, 0x00, 0x01};
        memcpy(login.header + 8, isid, sizeof isid);
        login.Put32(16, itt_);
        login.Put32(24, cmdSn_);
        TextKeys::Append(login.data, "InitiatorName", "iqn.2025-01.test:socket");
        TextKeys::Append(login.data, "SessionType", "Normal");
        TextKeys::Append(login.data, "TargetName", target);
        Send(login);
        Pdu answer;
        return Next(answer, 10000) && answer.Opcode() == Pdu::LoginResponse && answer.header[36] == 0;
    }
    // A read command; returns its task tag.
    uint32_t Read(const Bytes& cdb, uint32_t expected) {
        Pdu command = Pdu::Make(Pdu::ScsiCommand, 0xC0);
        command.Put32(16, ++itt_);
        command.Put32(20, expected);
        command.Put32(24, cmdSn_++);
        memcpy(command.header + 32, cdb.data(), cdb.size());
        Send(command);
        return itt_;
    }
    // The next PDU, waiting at most MILLISECONDS for each piece of it; false when none came.
    bool Next(Pdu& pdu, int milliseconds) {
        while (reader_.Next(pdu) != PduReader::Result::Complete) {
            pollfd readable = {fd_, POLLIN, 0};
            if (fd_ < 0 || poll(&readable, 1, milliseconds) <= 0) return false;
            uint8_t buffer[65536];
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) return false;
            reader_.Feed(buffer, static_cast<size_t>(n));
        }
        return true;
    }

private:
    void Send(Pdu& pdu) {
        Bytes wire;
        pdu.Encode(false, false, wire);
        EXPECT_EQ(send(fd_, wire.data(), wire.size(), MSG_NOSIGNAL), static_cast<ssize_t>(wire.size()));
    }

    int fd_;
    PduReader reader_;
    uint32_t itt_ = 0x100;
    uint32_t cmdSn_ = 1;
};

TEST(TargetServerTest, ASlowDriveHoldsUpNoOtherConnection) {
    IscsiTargetSet targets;
    emulator::DriveConfig config;
    // The slow drive's answer is never awaited: it is due long after the test has ended.
    targets.AddInMemory(SlowDrive, config).Drive->Drive().SetLatencyMicroseconds(60000000);
    targets.AddInMemory(QuickDrive, config).Drive->Drive().SetLatencyMicroseconds(50000);
    RunningServer server(targets);
    ASSERT_TRUE(server.Running());
    SocketInitiator slow(server.Port()), quick(server.Port());
    ASSERT_TRUE(slow.Login(SlowDrive));
    ASSERT_TRUE(quick.Login(QuickDrive));

    slow.Read(IdentityCdb, 16);
    const uint32_t quickTask = quick.Read(IdentityCdb, 16);
    // Nothing more is sent: the answer comes because the server wakes up when its latency has
    // passed. The bound is generous; the latency is 50 ms.
    Pdu answer;
    ASSERT_TRUE(quick.Next(answer, 10000)) << "the quick drive's answer, sent while the slow one's waits";
    EXPECT_EQ(answer.Opcode(), Pdu::DataIn);
    EXPECT_EQ(answer.InitiatorTaskTag(), quickTask);
    EXPECT_EQ(answer.Flags(), 0x81) << "final, with status";
    EXPECT_EQ(answer.data.size(), 16u);
    EXPECT_FALSE(slow.Next(answer, 0)) << "the slow drive's answer waits for its latency";

    server.Stop();
    EXPECT_EQ(targets.Targets()[0]->Drive->Drive().CommandCount(), 1u) << "the slow command ran at once";
}

}  // namespace
