// What the target does when an initiator's PDUs are damaged, lost or more than it can take:
// error recovery level 0, the output cap, and the logical units that are not there.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/iscsi/ScriptedInitiator.h"

using namespace iscsitest;

namespace {

// Fixed-format sense in a SCSI Response: two bytes of length, then the sense.
void ExpectSense(const Pdu& response, uint8_t key, uint8_t asc, uint8_t ascq) {
    ASSERT_EQ(response.Opcode(), Pdu::ScsiResponse);
    EXPECT_EQ(response.header[3], EmulatedDrive::StatusCheckCondition);
    ASSERT_EQ(response.data.size(), 2u + EmulatedDrive::SenseLength);
    EXPECT_EQ(response.data[1], EmulatedDrive::SenseLength);
    EXPECT_EQ(response.data[2], 0x70);
    EXPECT_EQ(response.data[2 + 2], key);
    EXPECT_EQ(response.data[2 + 7], EmulatedDrive::SenseLength - 8) << "additional sense length";
    EXPECT_EQ(response.data[2 + 12], asc);
    EXPECT_EQ(response.data[2 + 13], ascq);
}

TEST_F(SessionTest, ASecondSessionTypeIsRefusedAndLogged) {
    // Discovery first, then a normal session to a drive: once a session in the full feature phase
    // with no drive behind it, which the first command took down with the whole target.
    const std::string logPath = ::testing::TempDir() + "second-session-type.log";
    ASSERT_TRUE(targets.Log().Open(logPath));
    Initiator in(targets);
    const Keys first = {{"InitiatorName", "iqn.2025-01.test:i"}, {"SessionType", "Discovery"}};
    ASSERT_EQ(in.Send(in.LoginPdu(Stages(1, 0), first)).size(), 1u);
    const std::vector<Pdu> r = in.Send(in.LoginPdu(Transit | Stages(1, 3), {{"SessionType", "Normal"}, {"TargetName", Drive0}}));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].header[36], 0x02);
    EXPECT_EQ(r[0].header[37], 0x00);
    EXPECT_TRUE(in.connection.Closing());
    EXPECT_TRUE(in.Send(in.Command(0x80, TurCdb, 0)).empty());
    targets.Log().Close();
    const std::string text = ReadText(logPath);
    EXPECT_NE(text.find("c1 login refused 0200: SessionType given twice\n"), std::string::npos) << text;
}

TEST_F(SessionTest, ADamagedDataOutEndsItsTaskOnceItsDataIsIn) {
    // A 16 KiB chunk in two Data-Outs of 8 KiB, asked for by an R2T or sent unsolicited; the first
    // is damaged. Rejected at once; the task then takes what was asked for and ends with CHECK
    // CONDITION, protocol service CRC error, without reaching the drive; the session goes on.
    enum Damage { Digest, WrongDataSn, WrongOffset };
    struct Case { const char* name; bool unsolicited; Damage damage; uint8_t reason; };
    const Case cases[] = {
        {"digest, R2T", false, Digest, 0x02},
        {"digest, unsolicited", true, Digest, 0x02},
        {"DataSN, R2T", false, WrongDataSn, 0x04},
        {"offset, unsolicited", true, WrongOffset, 0x04},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DriveOf(0).Drive().ClearLog();
        Initiator in(targets);
        in.Login(Drive0, {{"DataDigest", "CRC32C"}, {"ImmediateData", "No"},
                          {"InitialR2T", c.unsolicited ? "No" : "Yes"}});
        const std::vector<Pdu> asked = in.Send(in.Command(c.unsolicited ? 0x20 : 0xA0, WriteChunkCdb, 0x4000));
        ASSERT_EQ(asked.size(), c.unsolicited ? 0u : 1u);
        const uint32_t ttt = c.unsolicited ? Pdu::NoTag : asked[0].Get32(20);

        const Bytes half(chunk.begin(), chunk.begin() + 8192);
        Pdu first = in.DataOut(ttt, c.damage == WrongDataSn ? 5 : 0, c.damage == WrongOffset ? 4096 : 0, half, false);
        Bytes wire;
        first.Encode(in.headerDigest, in.dataDigest, wire);
        if (c.damage == Digest) wire[wire.size() - 1] ^= 0x01;
        std::vector<Pdu> r = in.SendBytes(wire);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].Opcode(), Pdu::Reject);
        EXPECT_EQ(r[0].header[2], c.reason);

        r = in.Send(in.DataOut(ttt, 1, 8192, half, true));
        ASSERT_EQ(r.size(), 1u) << "no further R2T, and the task's answer";
        EXPECT_EQ(r[0].InitiatorTaskTag(), in.itt);
        ExpectSense(r[0], 0x0B, 0x47, 0x05);
        EXPECT_EQ(DriveOf(0).Drive().CommandCount(), 0u) << "the drive never saw it";

        const std::vector<Pdu> next = in.Send(in.Command(0xC0, {0x12, 0, 0, 0, 36, 0}, 36));
        ASSERT_EQ(next.size(), 1u) << "the session goes on";
        EXPECT_EQ(next[0].header[3], EmulatedDrive::StatusGood);
    }
}

TEST_F(SessionTest, AnAbortOfACommandNeverReceivedFillsItsGap) {
    // After the login ExpCmdSN is 1. The command with CmdSN 1 is lost on the way; the one with 2
    // waits behind it. ABORT TASK (immediate, CmdSN 3) names the lost one by RefCmdSN.
    // LATER: the command sent next, with CmdSN ExpCmdSN, and the answers it brings.
    struct Case { const char* name; uint32_t referencedTag; uint32_t refCmdSn; uint8_t response; uint32_t expAfter; size_t answers, later; };
    const Case cases[] = {
        {"the lost command", 0x501, 1, 0, 3, 1, 1},
        {"the waiting command: it never runs", 0x502, 2, 0, 1, 0, 1},
        {"RefCmdSN not below the request's", 0x501, 3, 1, 1, 0, 2},
        {"RefCmdSN behind the window", 0x501, 0, 1, 1, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Initiator in(targets);
        in.Login(Drive0);
        Pdu waiting = in.Command(0x80, TurCdb, 0);
        waiting.Put32(16, 0x502);
        waiting.Put32(24, 2);
        EXPECT_TRUE(in.Send(waiting).empty());

        Pdu tmf = Pdu::Make(Pdu::TaskManagement | 0x40, 0x81);
        tmf.Put32(16, 0x900);
        tmf.Put32(20, c.referencedTag);
        tmf.Put32(24, 3);
        tmf.Put32(32, c.refCmdSn);
        const std::vector<Pdu> r = in.Send(tmf);
        ASSERT_EQ(r.size(), 1u + c.answers);
        EXPECT_EQ(r.back().Opcode(), Pdu::TaskManagementResponse);
        EXPECT_EQ(r.back().header[2], c.response);
        if (c.answers != 0) {
            EXPECT_EQ(r[0].InitiatorTaskTag(), 0x502u) << "the waiting command ran";
        }
        EXPECT_EQ(in.connection.ExpCmdSn(), c.expAfter);

        Pdu later = in.Command(0x80, TurCdb, 0);
        later.Put32(24, c.expAfter);
        EXPECT_EQ(in.Send(later).size(), c.later) << "the next command in order is answered";
    }
}

TEST_F(SessionTest, OnlyInquiryAnswersForAnotherLun) {
    // Peripheral qualifier 011b, type 1Fh: nothing can be there. Everything else: 05/25/00.
    Initiator in(targets);
    in.Login(Drive0);
    Pdu inquiry = in.Command(0xC0, {0x12, 0, 0, 0, 36, 0}, 36);
    inquiry.header[9] = 1;  // LUN 1
    std::vector<Pdu> r = in.Send(inquiry);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Opcode(), Pdu::DataIn);
    EXPECT_EQ(r[0].header[3], EmulatedDrive::StatusGood);
    ASSERT_EQ(r[0].data.size(), 36u);
    EXPECT_EQ(Bytes(r[0].data.begin(), r[0].data.begin() + 5), (Bytes{0x7F, 0x00, 0x05, 0x02, 31}));

    for (const Bytes& cdb : {TurCdb, Bytes{0x12, 0x01, 0x80, 0, 36, 0}, ReadBackCdb}) {
        Pdu other = in.Command(0xC0, cdb, 36);
        other.header[9] = 1;
        r = in.Send(other);
        ASSERT_EQ(r.size(), 1u);
        ExpectSense(r[0], 0x05, 0x25, 0x00);
    }
    EXPECT_EQ(DriveOf(0).Drive().CommandCount(), 0u);
}

TEST_F(SessionTest, APingAsksForAnAnswerAndTakesIt) {
    Initiator in(targets);
    EXPECT_TRUE(in.Collect().empty());
    in.connection.Ping();
    EXPECT_TRUE(in.Collect().empty()) << "no ping before the full feature phase";
    in.Login(Drive0);
    uint32_t lastTtt = Pdu::NoTag;
    for (int round = 0; round < 2; ++round) {
        in.connection.Ping();
        in.connection.Ping();
        const std::vector<Pdu> r = in.Collect();
        ASSERT_EQ(r.size(), 1u) << "one ping at a time";
        EXPECT_EQ(r[0].Opcode(), Pdu::NopIn);
        EXPECT_EQ(r[0].InitiatorTaskTag(), Pdu::NoTag);
        EXPECT_NE(r[0].Get32(20), Pdu::NoTag);
        EXPECT_NE(r[0].Get32(20), lastTtt) << "each ping its own tag";
        lastTtt = r[0].Get32(20);
        EXPECT_TRUE(in.connection.PingOutstanding());

        Pdu answer = Pdu::Make(Pdu::NopOut | 0x40, 0x80);
        answer.Put32(16, Pdu::NoTag);
        answer.Put32(20, lastTtt + 1);
        EXPECT_TRUE(in.Send(answer).empty());
        EXPECT_TRUE(in.connection.PingOutstanding()) << "not its tag";
        answer.Put32(20, lastTtt);
        EXPECT_TRUE(in.Send(answer).empty());
        EXPECT_FALSE(in.connection.PingOutstanding());
    }
    // The ping took no StatSN: the next answer has the one the login's answer promised.
    const std::vector<Pdu> tur = in.Send(in.Command(0x80, TurCdb, 0));
    ASSERT_EQ(tur.size(), 1u);
    EXPECT_EQ(tur[0].Get32(24), 1u);
}

TEST_F(SessionTest, CommandsWaitWhileTheOutputIsAtItsCap) {
    // Immediate reads of 128 KiB sent all at once and never collected: the connection stops
    // taking commands at its cap and goes on when the output drains.
    const Bytes read128k = {0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x01};
    const size_t answer = 0x20000 + 48 * (0x20000 / 8192);  // 16 Data-In PDUs
    const size_t commands = 2 * IscsiConnection::OutputCap / 0x20000;
    Initiator in(targets);
    in.Login(Drive0, {{"MaxRecvDataSegmentLength", "8192"}});
    Bytes wire;
    for (size_t i = 0; i < commands; ++i) {
        Pdu p = in.Command(0xC0, read128k, 0x20000);
        p.header[0] |= 0x40;
        p.Encode(false, false, wire);
    }
    in.connection.Receive(wire.data(), wire.size());
    const size_t first = DriveOf(0).Drive().CommandCount();
    EXPECT_TRUE(in.connection.Saturated());
    EXPECT_LE(in.connection.Output().size(), IscsiConnection::OutputCap + answer);
    EXPECT_EQ(first, (IscsiConnection::OutputCap + answer - 1) / answer);

    in.connection.Resume();
    EXPECT_EQ(DriveOf(0).Drive().CommandCount(), first) << "nothing runs until the output drains";
    in.connection.SetBacklog(IscsiConnection::OutputCap);
    EXPECT_EQ(in.Collect().size(), first * (0x20000 / 8192));
    in.connection.Resume();
    EXPECT_EQ(DriveOf(0).Drive().CommandCount(), first) << "bytes the server still holds count";
    in.connection.SetBacklog(0);
    in.connection.Resume();
    EXPECT_EQ(DriveOf(0).Drive().CommandCount(), 2 * first);
}

TEST_F(SessionTest, AnAnswerTakesNoMoreThanTheDriveCanGive) {
    // READ BUFFER asking for 16 MiB of a 1 MiB flash, waiting for the drive's latency: what it
    // holds is the flash, far below the cap, not what the CDB asked for.
    targets.SetNow(1000);
    DriveOf(0).Drive().SetLatencyMicroseconds(5000);
    Initiator in(targets);
    in.Login(Drive0);
    const Bytes read16m = {0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x01};
    EXPECT_TRUE(in.Send(in.Command(0xC0, read16m, 0xFFFFFF)).empty());
    EXPECT_FALSE(in.connection.Saturated());
    targets.SetNow(1005);
    in.connection.ReleaseDue();
    const std::vector<Pdu> r = in.Collect();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Opcode(), Pdu::ScsiResponse) << "more than the flash holds: refused by the drive";
}

}  // namespace
