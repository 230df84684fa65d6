// TargetServer on a real socket: one thread serves every connection, and neither a drive's
// latency nor an initiator that reads nothing, says nothing or opens too much holds up the others.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
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
using emulator::TargetConfig;
using emulator::TargetServer;
using emulator::TextKeys;
using Bytes = std::vector<uint8_t>;

namespace {

const char* const SlowDrive = "iqn.2025-01.test.flashupgrade:slow";
const char* const QuickDrive = "iqn.2025-01.test.flashupgrade:quick";
const Bytes IdentityCdb = {0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00};
const Bytes InquiryCdb = {0x12, 0x00, 0x00, 0x00, 0x24, 0x00};
// READ BUFFER of the whole committed flash of a drive of default settings, 128 KiB.
const Bytes FlashCdb = {0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x01};

// The event log of a test, in a file of its own (the process id keeps apart the runs of other
// build trees on the same machine) that goes with the test.
class TestLog {
public:
    TestLog(IscsiTargetSet& targets, const char* test)
        : path_(testing::TempDir() + "TargetServerTest-" + test + "-" + std::to_string(getpid()) + ".log") {
        EXPECT_TRUE(targets.Log().Open(path_)) << path_;
    }
    ~TestLog() { unlink(path_.c_str()); }
    std::string Text() const {
        std::ifstream file(path_);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

private:
    std::string path_;
};

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The server's loop on a thread of its own, stopped the way the signal handler stops it.
class RunningServer {
public:
    explicit RunningServer(IscsiTargetSet& targets, const TargetConfig::ServerLimits& limits = {})
        : server_(targets, limits) {
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
    // The CPU time the server's thread has used, in milliseconds.
    uint64_t CpuMilliseconds() {
        clockid_t clock;
        timespec used = {};
        if (pthread_getcpuclockid(thread_.native_handle(), &clock) != 0 || clock_gettime(clock, &used) != 0) return 0;
        return static_cast<uint64_t>(used.tv_sec) * 1000u + static_cast<uint64_t>(used.tv_nsec) / 1000000u;
    }
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
    // RECEIVEBUFFER, when not 0, bounds what the kernel takes in for it without its reading.
    explicit SocketInitiator(uint16_t port, int receiveBuffer = 0) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        if (receiveBuffer != 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
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

    bool Login(const char* target, int milliseconds = 10000) {
        SendLogin(target);
        return LoginAnswered(milliseconds);
    }
    void SendLogin(const char* target) {
        Pdu login = Pdu::Make(0x40 | Pdu::LoginRequest, 0x80 | (1 << 2) | 3);  // operational to full feature
        // A session of its own for each initiator: the same ISID would reinstate another's.
        static uint8_t sessions = 0;
        const uint8_t isid[6] = {0x80, 0x12, 0x34, 0x56, 0x00, ++sessions};
        memcpy(login.header + 8, isid, sizeof isid);
        login.Put32(16, itt_);
        login.Put32(24, cmdSn_);
        TextKeys::Append(login.data, "InitiatorName", "iqn.2025-01.test:socket");
        TextKeys::Append(login.data, "SessionType", "Normal");
        TextKeys::Append(login.data, "TargetName", target);
        Send(login);
    }
    bool LoginAnswered(int milliseconds) {
        Pdu answer;
        return Next(answer, milliseconds) && answer.Opcode() == Pdu::LoginResponse && answer.header[36] == 0;
    }
    // A read command; returns its task tag. An immediate one takes no place in the window.
    uint32_t Read(const Bytes& cdb, uint32_t expected, bool immediate = false) {
        Pdu command = Pdu::Make(static_cast<uint8_t>((immediate ? 0x40 : 0) | Pdu::ScsiCommand), 0xC0);
        command.Put32(16, ++itt_);
        command.Put32(20, expected);
        command.Put32(24, immediate ? cmdSn_ : cmdSn_++);
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
    // Waits for the status of task ITT, answering on the way the NOP-Ins that ask for an answer,
    // as an initiator must.
    bool StatusOf(uint32_t itt, int milliseconds) {
        Pdu pdu;
        while (Next(pdu, milliseconds)) {
            if (pdu.Opcode() == Pdu::NopIn && pdu.Get32(20) != Pdu::NoTag) {
                Pdu nop = Pdu::Make(0x40 | Pdu::NopOut, Pdu::FinalFlag);
                nop.Put32(16, Pdu::NoTag);
                nop.Put32(20, pdu.Get32(20));
                nop.Put32(24, cmdSn_);
                Send(nop);
            }
            const bool status =
                pdu.Opcode() == Pdu::ScsiResponse || (pdu.Opcode() == Pdu::DataIn && (pdu.Flags() & 0x01));
            if (status && pdu.InitiatorTaskTag() == itt) return true;
        }
        return false;
    }
    // True when the target closes the connection within MILLISECONDS; what it sends before is
    // passed over.
    bool Ends(int milliseconds) {
        uint8_t buffer[65536];
        for (;;) {
            pollfd readable = {fd_, POLLIN, 0};
            if (fd_ < 0 || poll(&readable, 1, milliseconds) <= 0) return false;
            if (recv(fd_, buffer, sizeof buffer, 0) <= 0) return true;
        }
    }
    void Close() {
        close(fd_);
        fd_ = -1;
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

TEST(TargetServerTest, AnInitiatorThatReadsNothingHoldsBackOnlyItsOwnCommands) {
    IscsiTargetSet targets;
    TestLog log(targets, "flood");
    targets.AddInMemory(QuickDrive, emulator::DriveConfig());
    RunningServer server(targets);
    ASSERT_TRUE(server.Running());
    SocketInitiator flood(server.Port(), 65536), other(server.Port());
    ASSERT_TRUE(flood.Login(QuickDrive));
    ASSERT_TRUE(other.Login(QuickDrive));

    // 50 MiB of answers asked for, none read: immediate commands, which the window does not hold back.
    constexpr uint32_t Commands = 400;
    uint32_t first = 0;
    for (uint32_t i = 0; i < Commands; ++i) {
        const uint32_t itt = flood.Read(FlashCdb, 0x20000, true);
        if (i == 0) first = itt;
    }
    EXPECT_TRUE(other.StatusOf(other.Read(InquiryCdb, 36), 5000)) << "served while the first's output is full";
    const size_t ran = Count(log.Text(), "c1 command ");
    EXPECT_LT(ran, Commands / 2) << "4 MiB queued, and what the sockets hold";

    // Read at last, every answer comes, in order: the commands left waiting run as the output drains.
    uint32_t expected = first;
    Pdu pdu;
    while (expected != first + Commands && flood.Next(pdu, 5000)) {
        if (pdu.Opcode() != Pdu::DataIn || (pdu.Flags() & 0x01) == 0) continue;
        EXPECT_EQ(pdu.InitiatorTaskTag(), expected);
        expected = pdu.InitiatorTaskTag() + 1;
    }
    EXPECT_EQ(expected - first, Commands);
}

TEST(TargetServerTest, ClosesWhatGoesBeyondItsLimitsAndServesTheRest) {
    IscsiTargetSet targets;
    TestLog log(targets, "limits");
    targets.AddInMemory(QuickDrive, emulator::DriveConfig());
    TargetConfig::ServerLimits limits;
    limits.MaxConnections = 3;
    limits.LoginTimeoutSeconds = 1;
    limits.NopIntervalSeconds = 1;
    RunningServer server(targets, limits);
    ASSERT_TRUE(server.Running());
    SocketInitiator busy(server.Port()), quiet(server.Port());
    ASSERT_TRUE(busy.Login(QuickDrive));
    ASSERT_TRUE(quiet.Login(QuickDrive));
    SocketInitiator mute(server.Port()), extra(server.Port());
    EXPECT_TRUE(extra.Ends(5000)) << "the fourth connection is closed at once";
    EXPECT_FALSE(mute.Ends(0)) << "the third waits for its login";

    Pdu ping;
    ASSERT_TRUE(quiet.Next(ping, 5000)) << "a NOP-In after a second of silence";
    EXPECT_EQ(ping.Opcode(), Pdu::NopIn);
    EXPECT_EQ(ping.InitiatorTaskTag(), Pdu::NoTag);
    EXPECT_NE(ping.Get32(20), Pdu::NoTag) << "it asks for an answer";
    EXPECT_TRUE(mute.Ends(5000)) << "no login within a second";
    EXPECT_TRUE(busy.StatusOf(busy.Read(InquiryCdb, 36), 5000));
    EXPECT_TRUE(quiet.Ends(5000)) << "no answer within a second";
    EXPECT_TRUE(busy.StatusOf(busy.Read(InquiryCdb, 36), 5000)) << "a session that answers NOP-Ins stays";
    server.Stop();

    const std::string text = log.Text();
    for (const char* line : {"c4 refused: 3 connections open (max-connections=3)\n",
                             "c2 NOP-In ttt=", "c3 closed: no login within 1 s (login-timeout)\n",
                             "c2 closed: silent for 1 s after a NOP-In (nop-interval)\n"}) {
        EXPECT_EQ(Count(text, line), 1u) << line << " in\n" << text;
    }
    EXPECT_EQ(Count(text, "c1 closed"), 0u) << text;
}

// The descriptor limit of the process, lowered for a test and set back whatever happens.
class DescriptorLimit {
public:
    // Room for ROOM more descriptors than are open now.
    explicit DescriptorLimit(int room) {
        getrlimit(RLIMIT_NOFILE, &saved_);
        const int lowest = open("/dev/null", O_RDONLY);
        close(lowest);
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(lowest + room);
        set_ = setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }
    bool Set() const { return set_; }

private:
    rlimit saved_ = {};
    bool set_ = false;
};

TEST(TargetServerTest, WaitsForAFreeDescriptorWithoutSpinning) {
    IscsiTargetSet targets;
    TestLog log(targets, "descriptors");
    targets.AddInMemory(QuickDrive, emulator::DriveConfig());
    RunningServer server(targets);
    ASSERT_TRUE(server.Running());
    SocketInitiator first(server.Port());
    ASSERT_TRUE(first.Login(QuickDrive));
    {
        // One descriptor left: the second client's socket takes it, and accept() gets EMFILE.
        DescriptorLimit limit(1);
        ASSERT_TRUE(limit.Set());
        SocketInitiator second(server.Port());
        const uint64_t cpu = server.CpuMilliseconds();
        EXPECT_FALSE(second.Login(QuickDrive, 500)) << "not accepted while no descriptor is free";
        EXPECT_LT(server.CpuMilliseconds() - cpu, 250u) << "the pending connection must not make poll() spin";
        EXPECT_TRUE(first.StatusOf(first.Read(InquiryCdb, 36), 5000)) << "the connected client is served";
        first.Close();
        EXPECT_TRUE(second.LoginAnswered(5000)) << "accepted once a connection has closed";
        EXPECT_TRUE(second.StatusOf(second.Read(InquiryCdb, 36), 5000));
    }
    server.Stop();
    const std::string text = log.Text();
    EXPECT_EQ(Count(text, "accept: Too many open files; new connections wait until one closes\n"), 1u) << text;
    EXPECT_EQ(Count(text, "accepting connections again\n"), 1u) << text;
}

}  // namespace
