#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "emulator/iscsi/TargetConfig.h"
#include "tests/iscsi/ScriptedInitiator.h"

using emulator::TargetConfig;
using namespace iscsitest;

namespace {

// --- login ---------------------------------------------------------------------------------

TEST_F(SessionTest, LoginStagesAndTheirFailures) {
    const Keys names = {{"InitiatorName", "iqn.2025-01.test:i"}, {"TargetName", Drive0}};
    const Keys noInitiator = {{"TargetName", Drive0}};
    struct Step { int flags; Keys keys; uint8_t versionMin; uint16_t tsih; };
    struct Case { const char* name; std::vector<Step> steps; uint8_t statusClass, detail; bool fullFeature; };
    const Case cases[] = {
        {"operational only", {{Transit | Stages(1, 3), names, 0, 0}}, 0, 0, true},
        {"security, operational", {{Transit | Stages(0, 1), {names[0], names[1], {"AuthMethod", "CHAP,None"}}, 0, 0},
                                   {Transit | Stages(1, 3), {}, 0, 0}}, 0, 0, true},
        {"security to full feature", {{Transit | Stages(0, 3), {names[0], names[1], {"AuthMethod", "None"}}, 0, 0}}, 0, 0, true},
        {"two PDUs in one stage", {{Stages(1, 0), names, 0, 0}, {Transit | Stages(1, 3), {}, 0, 0}}, 0, 0, true},
        {"continued text", {{Continue | Stages(1, 0), {names[0]}, 0, 0}, {Transit | Stages(1, 3), {names[1]}, 0, 0}}, 0, 0, true},
        {"discovery", {{Transit | Stages(1, 3), {names[0], {"SessionType", "Discovery"}}, 0, 0}}, 0, 0, true},
        {"CHAP only", {{Transit | Stages(0, 1), {names[0], names[1], {"AuthMethod", "CHAP"}}, 0, 0}}, 2, 1, false},
        {"unknown target", {{Transit | Stages(1, 3), {names[0], {"TargetName", "iqn.2025-01.test:none"}}, 0, 0}}, 2, 3, false},
        {"no initiator name", {{Transit | Stages(1, 3), noInitiator, 0, 0}}, 2, 7, false},
        {"normal without target", {{Transit | Stages(1, 3), {names[0]}, 0, 0}}, 2, 7, false},
        {"version 1 at least", {{Transit | Stages(1, 3), names, 1, 0}}, 2, 5, false},
        {"existing session's TSIH", {{Transit | Stages(1, 3), names, 0, 7}}, 2, 0x0A, false},
        {"back to security", {{Transit | Stages(0, 1), names, 0, 0}, {Transit | Stages(0, 1), {}, 0, 0}}, 2, 0, false},
        {"to stage 2", {{Transit | Stages(1, 2), names, 0, 0}}, 2, 0, false},
        {"transit backwards", {{Transit | Stages(1, 0), names, 0, 0}}, 2, 0, false},
        {"transit and continue", {{Transit | Continue | Stages(1, 3), names, 0, 0}}, 2, 0, false},
        {"bad session type", {{Transit | Stages(1, 3), {names[0], names[1], {"SessionType", "Other"}}, 0, 0}}, 2, 0, false},
        {"bad MaxBurstLength", {{Transit | Stages(1, 3), {names[0], names[1], {"MaxBurstLength", "x"}}, 0, 0}}, 2, 0, false},
        // Every key counts once in a login: a second SessionType once made a normal session
        // without a drive behind it.
        {"discovery, then normal", {{Stages(1, 0), {names[0], {"SessionType", "Discovery"}}, 0, 0},
                                    {Transit | Stages(1, 3), {{"SessionType", "Normal"}, names[1]}, 0, 0}}, 2, 0, false},
        {"a key twice in one text", {{Transit | Stages(1, 3), {names[0], names[1], {"MaxBurstLength", "65536"},
                                                               {"MaxBurstLength", "8192"}}, 0, 0}}, 2, 0, false},
        {"a CHAP key", {{Transit | Stages(0, 1), {names[0], names[1], {"AuthMethod", "None"}, {"CHAP_A", "5"}}, 0, 0}},
         2, 1, false},
        {"TargetName in two stages", {{Transit | Stages(0, 1), {names[0], names[1], {"AuthMethod", "None"}}, 0, 0},
                                      {Transit | Stages(1, 3), {names[1]}, 0, 0}}, 2, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Initiator in(targets);
        Pdu last;
        for (const Step& s : c.steps) {
            Pdu p = in.LoginPdu(static_cast<uint8_t>(s.flags), s.keys);
            p.header[3] = s.versionMin;
            p.Put16(14, s.tsih);
            p.Put32(16, ++in.itt);
            const std::vector<Pdu> r = in.Send(p);
            ASSERT_EQ(r.size(), 1u);
            EXPECT_EQ(r[0].Opcode(), Pdu::LoginResponse);
            EXPECT_EQ(r[0].InitiatorTaskTag(), in.itt);
            EXPECT_EQ(Bytes(r[0].header + 8, r[0].header + 14), Bytes(p.header + 8, p.header + 14)) << "ISID";
            if (&s != &c.steps.front()) {
                EXPECT_EQ(r[0].Get32(24), last.Get32(24) + 1) << "StatSN";
            }
            if (r[0].header[36] == 0 && (s.flags & Transit) != 0) {
                EXPECT_EQ(r[0].Flags(), s.flags & 0x8F) << "the stages as asked";
            }
            last = r[0];
        }
        EXPECT_EQ(last.header[36], c.statusClass);
        EXPECT_EQ(last.header[37], c.detail);
        EXPECT_EQ(in.connection.InFullFeature(), c.fullFeature);
        EXPECT_EQ(in.connection.Closing(), !c.fullFeature);
        if (c.fullFeature) {
            EXPECT_EQ(last.Flags() & 0x83, 0x83) << "transit to the full feature phase";
            EXPECT_NE(last.Get16(14), 0) << "TSIH assigned";
        }
    }
}

TEST_F(SessionTest, AnswersTheOffersOfQemu) {
    Initiator in(targets);
    const Pdu r = in.Login(Drive0, {{"HeaderDigest", "None,CRC32C"}, {"DataDigest", "None"},
                                    {"InitialR2T", "No"}, {"ImmediateData", "Yes"},
                                    {"MaxBurstLength", "262144"}, {"FirstBurstLength", "262144"},
                                    {"MaxRecvDataSegmentLength", "262144"}, {"MaxOutstandingR2T", "1"},
                                    {"ErrorRecoveryLevel", "0"}, {"MaxConnections", "1"},
                                    {"DataPDUInOrder", "Yes"}, {"DataSequenceInOrder", "Yes"},
                                    {"X-test.Unknown", "1"}});
    EXPECT_EQ(KeyText(r.data),
              "HeaderDigest=None|DataDigest=None|InitialR2T=No|ImmediateData=Yes|MaxBurstLength=262144|"
              "FirstBurstLength=65536|MaxOutstandingR2T=1|ErrorRecoveryLevel=0|MaxConnections=1|"
              "DataPDUInOrder=Yes|DataSequenceInOrder=Yes|X-test.Unknown=NotUnderstood|"
              "MaxRecvDataSegmentLength=8192|TargetPortalGroupTag=1|");
    EXPECT_EQ(r.Get32(28), 1u) << "ExpCmdSN is the login's CmdSN";
    EXPECT_EQ(r.Get32(32), 8u) << "MaxCmdSN: a window of eight";
}

TEST_F(SessionTest, APduOtherThanLoginEndsTheConnection) {
    // Before any login: closed without a word. Once the login has begun: a Login reject, invalid
    // during login (02h/0Bh), then closed.
    Initiator before(targets);
    EXPECT_TRUE(before.Send(before.Command(0x80, TurCdb, 0)).empty());
    EXPECT_TRUE(before.connection.Closing());

    Initiator during(targets);
    ASSERT_EQ(during.Send(during.LoginPdu(Stages(1, 0), {{"InitiatorName", "iqn.2025-01.test:i"}, {"TargetName", Drive0}}))
                  .size(),
              1u);
    const std::vector<Pdu> r = during.Send(during.Command(0x80, TurCdb, 0));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Opcode(), Pdu::LoginResponse);
    EXPECT_EQ(r[0].header[36], 0x02);
    EXPECT_EQ(r[0].header[37], 0x0B);
    EXPECT_EQ(r[0].header[13], 1) << "the login's ISID";
    EXPECT_TRUE(during.connection.Closing());
}

TEST_F(SessionTest, DiscoveryListsEveryTarget) {
    Initiator in(targets);
    in.Login(nullptr);
    Pdu text = Pdu::Make(Pdu::TextRequest, 0x80);
    text.Put32(16, 0x55);
    text.Put32(20, Pdu::NoTag);
    text.Put32(24, in.cmdSn++);
    TextKeys::Append(text.data, "SendTargets", "All");
    const std::vector<Pdu> r = in.Send(text);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Opcode(), Pdu::TextResponse);
    EXPECT_EQ(KeyText(r[0].data), std::string("TargetName=") + Drive0 + "|TargetAddress=127.0.0.1:3260,1|TargetName=" +
                                      Drive1 + "|TargetAddress=127.0.0.1:3260,1|");
    // A discovery session carries no SCSI commands.
    const std::vector<Pdu> rejected = in.Send(in.Command(0x80, TurCdb, 0));
    ASSERT_EQ(rejected.size(), 1u);
    EXPECT_EQ(rejected[0].Opcode(), Pdu::Reject);
}

// --- reads, residuals --------------------------------------------------------------------

TEST_F(SessionTest, DataInIsCutToTheInitiatorsSegmentLimitAndBursts) {
    struct Case { const char* burst; size_t pdus; std::vector<size_t> finals; };
    const Case cases[] = {
        {"262144", 8, {7}},
        {"1024", 8, {1, 3, 5, 7}},
    };
    DriveOf(0).FillPattern(chunk.data(), chunk.size());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.burst);
        Initiator in(targets);
        in.Login(Drive0, {{"MaxRecvDataSegmentLength", "512"}, {"MaxBurstLength", c.burst}});
        const Bytes dump = {0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x01};
        const std::vector<Pdu> r = in.Send(in.Command(0xC0, dump, 0x1000));
        ASSERT_EQ(r.size(), c.pdus);
        Bytes got;
        for (size_t i = 0; i < r.size(); ++i) {
            EXPECT_EQ(r[i].Opcode(), Pdu::DataIn);
            EXPECT_EQ(r[i].data.size(), 512u);
            EXPECT_EQ(r[i].Get32(36), i) << "DataSN";
            EXPECT_EQ(r[i].Get32(40), i * 512) << "buffer offset";
            const bool final = std::find(c.finals.begin(), c.finals.end(), i) != c.finals.end();
            EXPECT_EQ((r[i].Flags() & 0x80) != 0, final) << i;
            got.insert(got.end(), r[i].data.begin(), r[i].data.end());
        }
        EXPECT_EQ(r.back().Flags(), 0x81) << "status in the last Data-In, no residual";
        EXPECT_EQ(r.back().header[3], 0x00);
        EXPECT_EQ(got, Bytes(chunk.begin(), chunk.begin() + 0x1000));
    }
}

TEST_F(SessionTest, ResidualsAndSenseInTheResponse) {
    struct Case {
        const char* name;
        Bytes cdb;
        uint8_t flags;
        uint32_t expected;
        Bytes lun;
        uint8_t lastOpcode, lastFlags, status;
        uint32_t residual, dataBytes;
        Bytes sense;  // sense length word and key, ASC as sent in a SCSI Response
        Bytes immediate = {};
    };
    const Case cases[] = {
        {"inquiry short of the buffer", {0x12, 0, 0, 0, 36, 0}, 0xC0, 64, {}, Pdu::DataIn, 0x83, 0, 28, 36, {}},
        {"inquiry beyond the buffer", {0x12, 0, 0, 0, 0xFF, 0}, 0xC0, 16, {}, Pdu::DataIn, 0x85, 0, 20, 16, {}},
        {"request sense", {0x03, 0, 0, 0, 18, 0}, 0xC0, 64, {}, Pdu::DataIn, 0x83, 0, 46, 18, {}},
        {"test unit ready, no disc", TurCdb, 0x80, 0, {}, Pdu::ScsiResponse, 0x80, 2, 0, 0,
         {0x00, 0x12, 0x70, 0x00, 0x02}},
        {"unknown opcode", {0xAD, 0, 0, 0, 0, 0, 0, 0, 0x08, 0, 0, 0}, 0xC0, 2048, {}, Pdu::ScsiResponse, 0x82, 2, 2048,
         0, {0x00, 0x12, 0x70, 0x00, 0x05}},
        {"LUN 1", TurCdb, 0x80, 0, {0x00, 0x01}, Pdu::ScsiResponse, 0x80, 2, 0, 0, {0x00, 0x12, 0x70, 0x00, 0x05}},
        {"report luns", {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0}, 0xC0, 16, {}, Pdu::DataIn, 0x81, 0, 0, 16, {}},
        {"write short of its data", {0x3B, 0x07, 0, 0, 0, 0, 0, 0, 0x10, 0}, 0xA0, 32, {}, Pdu::ScsiResponse, 0x82, 0,
         16, 0, {}, Bytes(32, 0x5A)},
    };
    const std::string logPath = ::testing::TempDir() + "residuals.log";
    ASSERT_TRUE(targets.Log().Open(logPath));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Initiator in(targets);
        in.Login(Drive0);
        Pdu cmd = in.Command(c.flags, c.cdb, c.expected, c.immediate);
        std::copy(c.lun.begin(), c.lun.end(), cmd.header + 8);
        const std::vector<Pdu> r = in.Send(cmd);
        ASSERT_FALSE(r.empty());
        const Pdu& last = r.back();
        EXPECT_EQ(last.Opcode(), c.lastOpcode);
        EXPECT_EQ(last.Flags(), c.lastFlags);
        EXPECT_EQ(last.header[3], c.status);
        EXPECT_EQ(last.Get32(44), c.residual);
        size_t data = 0;
        for (const Pdu& p : r) {
            if (p.Opcode() == Pdu::DataIn) data += p.data.size();
        }
        EXPECT_EQ(data, c.dataBytes);
        if (!c.sense.empty()) {
            ASSERT_GE(last.data.size(), 14u);
            EXPECT_EQ(Bytes(last.data.begin(), last.data.begin() + 5), c.sense);
        } else if (last.Opcode() == Pdu::ScsiResponse) {
            EXPECT_TRUE(last.data.empty()) << "no sense with GOOD";
        }
    }
    targets.Log().Close();
    const std::string log = ReadText(logPath);
    for (const char* line : {" cdb=120000002400 in edtl=64 status=0 sense=00/00/00 moved=36 residual=underflow 28\n",
                             " cdb=12000000ff00 in edtl=16 status=0 sense=00/00/00 moved=16 residual=overflow 20\n",
                             " cdb=3b070000000000001000 out edtl=32 status=0 sense=00/00/00 moved=16 residual=underflow 16\n",
                             " cdb=000000000000 none edtl=0 status=2 sense=02/3a/00 moved=0 residual=0\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
    }
}

// --- writes --------------------------------------------------------------------------------

TEST_F(SessionTest, WriteDataArrivesByEveryRoute) {
    struct Case {
        const char* name;
        Keys offers;
        uint32_t immediate;    // bytes sent with the command
        uint32_t unsolicited;  // bytes sent as unsolicited Data-Out
        std::vector<std::pair<uint32_t, uint32_t>> r2ts;  // offset, length asked for
    };
    const Case cases[] = {
        {"immediate, then one R2T", {{"InitialR2T", "Yes"}, {"ImmediateData", "Yes"}}, 8192, 0, {{8192, 8192}}},
        {"immediate and unsolicited", {{"InitialR2T", "No"}, {"ImmediateData", "Yes"}}, 8192, 8192, {}},
        {"unsolicited up to the first burst", {{"InitialR2T", "No"}, {"ImmediateData", "No"}, {"FirstBurstLength", "4096"}},
         0, 4096, {{4096, 12288}}},
        {"R2T only", {{"InitialR2T", "Yes"}, {"ImmediateData", "No"}}, 0, 0, {{0, 16384}}},
        {"bursts of 4 KiB", {{"InitialR2T", "Yes"}, {"ImmediateData", "No"}, {"MaxBurstLength", "4096"}}, 0, 0,
         {{0, 4096}, {4096, 4096}, {8192, 4096}, {12288, 4096}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Initiator in(targets);
        in.Login(Drive0, c.offers);
        std::vector<Pdu> r = in.Send(in.Command(0xA0 & ~(c.unsolicited != 0 ? 0x80 : 0), WriteChunkCdb, 0x4000,
                                                Bytes(chunk.begin(), chunk.begin() + c.immediate)));
        uint32_t sent = c.immediate;
        for (uint32_t u = 0; u < c.unsolicited; u += 8192) {
            const uint32_t n = std::min<uint32_t>(8192, c.unsolicited - u);
            const bool final = u + n == c.unsolicited;
            auto more = in.Send(in.DataOut(Pdu::NoTag, u / 8192, sent, Bytes(chunk.begin() + sent, chunk.begin() + sent + n), final));
            r.insert(r.end(), more.begin(), more.end());
            sent += n;
        }
        size_t asked = 0;
        while (!r.empty() && r[0].Opcode() == Pdu::ReadyToTransfer) {
            const Pdu r2t = r[0];
            ASSERT_LT(asked, c.r2ts.size());
            EXPECT_EQ(r2t.Get32(36), asked) << "R2TSN";
            EXPECT_EQ(r2t.Get32(40), c.r2ts[asked].first);
            EXPECT_EQ(r2t.Get32(44), c.r2ts[asked].second);
            ++asked;
            r.erase(r.begin());
            const uint32_t offset = r2t.Get32(40), length = r2t.Get32(44);
            for (uint32_t done = 0, sn = 0; done < length; ++sn) {
                const uint32_t n = std::min<uint32_t>(8192, length - done);
                auto more = in.Send(in.DataOut(r2t.Get32(20), sn, offset + done,
                                               Bytes(chunk.begin() + offset + done, chunk.begin() + offset + done + n),
                                               done + n == length));
                r.insert(r.end(), more.begin(), more.end());
                done += n;
            }
        }
        EXPECT_EQ(asked, c.r2ts.size());
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].Opcode(), Pdu::ScsiResponse);
        EXPECT_EQ(r[0].header[3], 0x00);
        EXPECT_EQ(r[0].Flags(), 0x80) << "no residual";
        EXPECT_EQ(Bytes(DriveOf(0).Drive().Staging() + 0x14000, DriveOf(0).Drive().Staging() + 0x18000), chunk);

        const std::vector<Pdu> back = in.Send(in.Command(0xC0, ReadBackCdb, 0x4000));
        Bytes got;
        for (const Pdu& p : back) got.insert(got.end(), p.data.begin(), p.data.end());
        EXPECT_EQ(got, chunk);
        DriveOf(0).Drive().ResetStaging();
    }
}

TEST_F(SessionTest, AConnectionDroppedHalfwayLeavesTheDriveAsItWas) {
    const Bytes flashBefore = DriveOf(0).FlashImage();
    {
        Initiator in(targets);
        in.Login(Drive0, {{"InitialR2T", "Yes"}});
        const std::vector<Pdu> r = in.Send(in.Command(0xA0, WriteChunkCdb, 0x4000, Bytes(chunk.begin(), chunk.begin() + 8192)));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].Opcode(), Pdu::ReadyToTransfer);
        in.connection.Dropped("test");
    }
    EXPECT_EQ(DriveOf(0).Drive().CommandCount(), 0u) << "the drive never saw the half command";
    EXPECT_FALSE(DriveOf(0).Drive().ReceivedSinceCommit());
    Initiator again(targets, 2);
    again.Login(Drive0);
    const std::vector<Pdu> r = again.Send(again.Command(0x80, {0x3B, 0x04, 0, 0, 0, 0, 0, 0, 0, 0}, 0));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].header[3], 0x02) << "commit without a chunk received";
    EXPECT_EQ(DriveOf(0).FlashImage(), flashBefore);
}

// --- ordering ------------------------------------------------------------------------------

TEST_F(SessionTest, CommandsOutsideTheWindowAreDroppedAndGapsWait) {
    struct Send { int32_t cmdSnFromExp; bool immediate; };
    struct Case { const char* name; std::vector<Send> sends; std::vector<size_t> answeredInOrder; uint32_t expAfter; };
    // ExpCmdSN is 1 after the login, MaxCmdSN 8.
    const Case cases[] = {
        {"in order", {{0, false}, {1, false}}, {0, 1}, 3},
        {"too low", {{-1, false}}, {}, 1},
        {"too high", {{8, false}}, {}, 1},
        {"at MaxCmdSN waits", {{7, false}}, {}, 1},
        {"gap filled", {{1, false}, {2, false}, {0, false}}, {2, 0, 1}, 4},
        {"duplicate of a waiting one", {{1, false}, {1, false}, {0, false}}, {2, 0}, 3},
        {"immediate", {{5, true}}, {0}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Initiator in(targets);
        in.Login(Drive0);
        const uint32_t exp = in.connection.ExpCmdSn();
        ASSERT_EQ(exp, 1u);
        std::vector<uint32_t> answered;
        for (size_t i = 0; i < c.sends.size(); ++i) {
            Pdu p = in.Command(0x80, TurCdb, 0);
            if (c.sends[i].immediate) p.header[0] |= 0x40;
            p.Put32(16, 0x1000 + static_cast<uint32_t>(i));
            p.Put32(24, exp + static_cast<uint32_t>(c.sends[i].cmdSnFromExp));
            for (const Pdu& r : in.Send(p)) {
                EXPECT_EQ(r.Opcode(), Pdu::ScsiResponse);
                answered.push_back(r.InitiatorTaskTag() - 0x1000);
            }
        }
        EXPECT_EQ(answered, std::vector<uint32_t>(c.answeredInOrder.begin(), c.answeredInOrder.end()));
        EXPECT_EQ(in.connection.ExpCmdSn(), c.expAfter);
        EXPECT_EQ(in.connection.MaxCmdSn(), c.expAfter + 7);
    }
}

// --- malformed input -----------------------------------------------------------------------

TEST_F(SessionTest, MalformedPdusAreRejectedOrEndTheConnection) {
    struct Case { const char* name; Keys offers; int kind; uint8_t reason; bool closes; };
    // kind: what is sent after the login
    enum { UnknownOpcode, Snack, LoginAgain, Oversized, ReadWithData, BadOffset, NoTaskTag, HeaderDigestBad, DataDigestBad };
    const Case cases[] = {
        {"unknown opcode", {}, UnknownOpcode, 0x05, false},
        {"SNACK", {}, Snack, 0x03, false},
        {"login in full feature", {}, LoginAgain, 0x04, false},
        {"segment over the limit", {}, Oversized, 0x04, true},
        {"data on a read", {}, ReadWithData, 0x04, false},
        {"Data-Out at the wrong offset", {{"InitialR2T", "Yes"}}, BadOffset, 0x04, false},
        {"command without task tag", {}, NoTaskTag, 0x09, false},
        {"header digest mismatch", {{"HeaderDigest", "CRC32C"}}, HeaderDigestBad, 0, true},
        {"data digest mismatch", {{"DataDigest", "CRC32C"}}, DataDigestBad, 0x02, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Initiator in(targets);
        in.Login(Drive0, c.offers);
        std::vector<Pdu> r;
        Pdu p = in.Command(0xC0, {0x12, 0, 0, 0, 36, 0}, 36);
        Bytes wire;
        switch (c.kind) {
        case UnknownOpcode: p.header[0] = 0x1E; break;
        case Snack: p.header[0] = Pdu::Snack; break;
        case LoginAgain: p = in.LoginPdu(Transit | Stages(1, 3), {}); break;
        case Oversized: p.data.assign(8193, 0); p.header[1] = 0xA0; break;
        case ReadWithData: p.data.assign(4, 0); break;
        case BadOffset:
            in.cmdSn = in.connection.ExpCmdSn();
            in.Send(in.Command(0xA0, WriteChunkCdb, 0x4000, Bytes(chunk.begin(), chunk.begin() + 4096)));
            p = in.DataOut(1, 0, 8192, Bytes(4096, 0), false);  // the burst stays open
            break;
        case NoTaskTag: p.Put32(16, Pdu::NoTag); break;
        case HeaderDigestBad:
        case DataDigestBad:
            p = Pdu::Make(Pdu::NopOut | 0x40, 0x80);
            p.Put32(16, 0x77);
            p.Put32(20, Pdu::NoTag);
            p.data = {1, 2, 3, 4};
            p.Encode(in.headerDigest, in.dataDigest, wire);
            wire[c.kind == HeaderDigestBad ? 20 : wire.size() - 6] ^= 0x10;
            break;
        }
        r = wire.empty() ? in.Send(p) : in.SendBytes(wire);
        if (c.reason != 0) {
            ASSERT_EQ(r.size(), 1u);
            EXPECT_EQ(r[0].Opcode(), Pdu::Reject);
            EXPECT_EQ(r[0].header[2], c.reason);
            EXPECT_EQ(r[0].data.size(), 48u) << "the rejected header comes back";
        } else {
            EXPECT_TRUE(r.empty());
        }
        EXPECT_EQ(in.connection.Closing(), c.closes);
        if (!c.closes) {
            in.cmdSn = in.connection.ExpCmdSn();  // whatever the rejected PDU used up
            const std::vector<Pdu> ok = in.Send(in.Command(0x80, TurCdb, 0));
            ASSERT_EQ(ok.size(), 1u) << "still serving";
            EXPECT_EQ(ok[0].Opcode(), Pdu::ScsiResponse);
        }
    }
}

// --- task management, NOP, logout ------------------------------------------------------------

TEST_F(SessionTest, TaskManagementFunctions) {
    struct Case { const char* name; uint8_t function; bool referencePending; uint8_t response; bool abortsOther; bool closes; };
    const Case cases[] = {
        {"abort a waiting task", 1, true, 0, false, false},
        {"abort an unknown task", 1, false, 1, false, false},
        {"abort task set", 2, false, 0, false, false},
        {"clear ACA", 3, false, 5, false, false},
        {"LUN reset", 5, false, 0, true, false},
        {"warm reset", 6, false, 0, true, false},
        {"cold reset", 7, false, 0, true, true},
        {"task reassign", 8, false, 4, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Initiator in(targets, 1, 1);
        Initiator other(targets, 2, 2);
        in.Login(Drive0, {{"InitialR2T", "Yes"}, {"ImmediateData", "No"}});
        other.Login(Drive0, {{"InitialR2T", "Yes"}, {"ImmediateData", "No"}});
        const std::vector<Pdu> r2t = in.Send(in.Command(0xA0, WriteChunkCdb, 0x4000));
        ASSERT_EQ(r2t.size(), 1u);
        const uint32_t pending = in.itt;
        const std::vector<Pdu> otherR2t = other.Send(other.Command(0xA0, WriteChunkCdb, 0x4000));
        ASSERT_EQ(otherR2t.size(), 1u);
        const uint32_t otherPending = other.itt;

        Pdu tmf = Pdu::Make(Pdu::TaskManagement | 0x40, static_cast<uint8_t>(0x80 | c.function));
        tmf.Put32(16, 0x900);
        tmf.Put32(20, c.referencePending ? pending : 0x12345);
        tmf.Put32(24, in.cmdSn);
        tmf.Put32(32, 1);  // RefCmdSN: long done
        const std::vector<Pdu> r = in.Send(tmf);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].Opcode(), Pdu::TaskManagementResponse);
        EXPECT_EQ(r[0].header[2], c.response);
        EXPECT_EQ(in.connection.Closing(), c.closes);
        EXPECT_EQ(other.connection.Closing(), c.closes);
        if (c.closes) continue;

        // The rest of the data: an aborted task takes it silently, a live one answers it.
        const bool aborted = c.referencePending || c.function == 2 || c.abortsOther;
        in.itt = pending;
        auto sendRest = [&](Initiator& who, uint32_t ttt) {
            const Bytes half(chunk.begin(), chunk.begin() + 8192);
            std::vector<Pdu> answers = who.Send(who.DataOut(ttt, 0, 0, half, false));
            const std::vector<Pdu> more = who.Send(who.DataOut(ttt, 1, 8192, half, true));
            answers.insert(answers.end(), more.begin(), more.end());
            return answers;
        };
        const std::vector<Pdu> rest = sendRest(in, r2t[0].Get32(20));
        EXPECT_EQ(rest.size(), aborted ? 0u : 1u);
        other.itt = otherPending;
        const std::vector<Pdu> otherRest = sendRest(other, otherR2t[0].Get32(20));
        EXPECT_EQ(otherRest.size(), c.abortsOther ? 0u : 1u);
        const std::vector<Pdu> ok = in.Send(in.Command(0x80, TurCdb, 0));
        ASSERT_EQ(ok.size(), 1u);
        DriveOf(0).Drive().ResetStaging();
    }
}

TEST_F(SessionTest, NopLogoutAndReinstatement) {
    const std::string logPath = ::testing::TempDir() + "nop-logout.log";
    ASSERT_TRUE(targets.Log().Open(logPath));
    Initiator in(targets, 1, 1);
    in.Login(Drive0);
    Pdu ping = Pdu::Make(Pdu::NopOut | 0x40, 0x80);
    ping.Put32(16, 0x42);
    ping.Put32(20, Pdu::NoTag);
    ping.data = {'p', 'i', 'n', 'g'};
    ping.header[15] = 0x5A;
    std::vector<Pdu> r = in.Send(ping);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Opcode(), Pdu::NopIn);
    EXPECT_EQ(r[0].InitiatorTaskTag(), 0x42u);
    EXPECT_EQ(r[0].header[15], 0x5A) << "the LUN comes back";
    EXPECT_EQ(r[0].header[8], 0x00);
    EXPECT_EQ(r[0].data, ping.data);
    ping.Put32(16, Pdu::NoTag);
    EXPECT_TRUE(in.Send(ping).empty()) << "no answer wanted";

    // The same initiator and ISID again: the old session ends.
    Initiator again(targets, 2, 1);
    again.Login(Drive0);
    EXPECT_TRUE(in.connection.Closing());
    EXPECT_TRUE(again.connection.InFullFeature());

    Pdu logout = Pdu::Make(Pdu::LogoutRequest | 0x40, 0x80 | 2);
    logout.Put32(16, 0x43);
    r = again.Send(logout);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].header[2], 2) << "no connection recovery";
    EXPECT_FALSE(again.connection.Closing());
    logout.header[1] = 0x80 | 1;
    logout.Put16(20, 9);
    r = again.Send(logout);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].header[2], 1) << "no connection with that CID";
    EXPECT_FALSE(again.connection.Closing());
    logout.header[1] = 0x80 | 3;
    r = again.Send(logout);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Opcode(), Pdu::Reject) << "a reserved reason";
    EXPECT_EQ(r[0].header[2], IscsiConnection::RejectInvalidField);
    EXPECT_FALSE(again.connection.Closing());
    logout.header[1] = 0x80;
    r = again.Send(logout);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Opcode(), Pdu::LogoutResponse);
    EXPECT_EQ(r[0].header[2], 0);
    EXPECT_TRUE(again.connection.Closing());
    again.connection.Dropped("the initiator closed the connection");
    targets.Log().Close();
    const std::string log = ReadText(logPath);
    EXPECT_NE(log.find("c2 logout reason 0: response 0\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("c2 dropped"), std::string::npos) << "a connection ends after its logout\n" << log;
}

TEST_F(SessionTest, TwoSessionsOnTwoDrivesAtOnce) {
    Initiator a(targets, 1, 1), b(targets, 2, 2);
    a.Login(Drive0, {{"InitialR2T", "Yes"}});
    b.Login(Drive1, {{"InitialR2T", "Yes"}});
    Bytes other(chunk.rbegin(), chunk.rend());
    const auto ra = a.Send(a.Command(0xA0, WriteChunkCdb, 0x4000, Bytes(chunk.begin(), chunk.begin() + 8192)));
    const auto rb = b.Send(b.Command(0xA0, WriteChunkCdb, 0x4000, Bytes(other.begin(), other.begin() + 8192)));
    ASSERT_EQ(ra.size(), 1u);
    ASSERT_EQ(rb.size(), 1u);
    EXPECT_EQ(b.Send(b.DataOut(rb[0].Get32(20), 0, 8192, Bytes(other.begin() + 8192, other.end()), true)).size(), 1u);
    EXPECT_EQ(a.Send(a.DataOut(ra[0].Get32(20), 0, 8192, Bytes(chunk.begin() + 8192, chunk.end()), true)).size(), 1u);
    EXPECT_EQ(Bytes(DriveOf(0).Drive().Staging() + 0x14000, DriveOf(0).Drive().Staging() + 0x18000), chunk);
    EXPECT_EQ(Bytes(DriveOf(1).Drive().Staging() + 0x14000, DriveOf(1).Drive().Staging() + 0x18000), other);
}

// --- the link's faults: hold and drop ---------------------------------------------------------

const Bytes IdentityCdb = {0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00};
const Bytes Write16AtZeroCdb = {0x3B, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00};
const Bytes CommitCdb = {0x3B, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

EmulatedDrive::CommandPick Pick(EmulatedDrive::Kind kind, uint32_t nth) {
    EmulatedDrive::CommandPick p;
    p.kind = kind;
    p.nth = nth;
    return p;
}

std::string Itt(uint32_t itt) {
    char text[16];
    snprintf(text, sizeof text, "0x%08x", itt);
    return text;
}

Pdu TaskManagementPdu(Initiator& in, uint8_t function, uint32_t referenced) {
    Pdu tmf = Pdu::Make(Pdu::TaskManagement | 0x40, static_cast<uint8_t>(0x80 | function));
    tmf.Put32(16, 0x900);
    tmf.Put32(20, referenced);
    tmf.Put32(24, in.cmdSn);
    tmf.Put32(32, in.cmdSn - 1);
    return tmf;
}

TEST_F(SessionTest, AHeldCommandIsNeverAnsweredWhileTheOnesAfterItAre) {
    // function 0: the connection ends instead.
    struct Case { const char* name; uint8_t function; const char* ended; };
    const Case cases[] = {
        {"abort task", 1, "ABORT TASK"},
        {"abort task set", 2, "ABORT TASK SET"},
        {"LUN reset", 5, "LUN RESET"},
        {"warm reset", 6, "TARGET WARM RESET"},
        {"connection ends", 0, "connection ended"},
    };
    const std::string logPath = ::testing::TempDir() + "held-command.log";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(targets.Log().Open(logPath));
        targets.Targets()[0]->Hold = Pick(EmulatedDrive::Kind::Identity, 2);
        emulator::EmulatedDriveFile& drive = DriveOf(0);
        drive.Drive().ClearLog();
        Initiator in(targets);
        in.Login(Drive0);
        ASSERT_EQ(in.Send(in.Command(0xC0, IdentityCdb, 16)).size(), 1u) << "the first is answered";
        EXPECT_TRUE(in.Send(in.Command(0xC0, IdentityCdb, 16)).empty()) << "the second is held";
        const uint32_t held = in.itt;

        // The window moves on past it; the commands after it run, the same kind included.
        const std::vector<Pdu> tur = in.Send(in.Command(0x80, TurCdb, 0));
        ASSERT_EQ(tur.size(), 1u);
        EXPECT_EQ(tur[0].Get32(32), tur[0].Get32(28) + 7) << "MaxCmdSN: the whole window open";
        std::vector<Pdu> third = in.Send(in.Command(0xC0, IdentityCdb, 16));
        ASSERT_EQ(third.size(), 1u);
        EXPECT_EQ(third[0].header[3], 0x00);
        EXPECT_EQ(drive.Drive().CommandCount(), 3u) << "the held one never reached the drive";
        Pdu again = in.Command(0xC0, IdentityCdb, 16);
        again.Put32(16, held);
        const std::vector<Pdu> reused = in.Send(again);
        ASSERT_EQ(reused.size(), 1u);
        EXPECT_EQ(reused[0].Opcode(), Pdu::Reject) << "its task tag is still in use";

        if (c.function == 0) {
            in.connection.Dropped("test");
        } else {
            const std::vector<Pdu> r = in.Send(TaskManagementPdu(in, c.function, held));
            ASSERT_EQ(r.size(), 1u) << "the task management answer and nothing for the held command";
            EXPECT_EQ(r[0].Opcode(), Pdu::TaskManagementResponse);
            EXPECT_EQ(r[0].header[2], 0) << "function complete";
            EXPECT_EQ(in.Send(in.Command(0x80, TurCdb, 0)).size(), 1u);
        }
        EXPECT_EQ(drive.Drive().CommandCount(), c.function == 0 ? 3u : 4u);
        targets.Log().Close();
        const std::string log = ReadText(logPath);
        EXPECT_NE(log.find("c1 hold itt=" + Itt(held) + " cdb=3c010000000000001000 kind=identity nth=2: no answer\n"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("c1 hold itt=" + Itt(held) + " ended: " + c.ended + "\n"), std::string::npos) << log;
    }
}

TEST_F(SessionTest, AHeldCommandWithSecondsIsCarriedOutAndAnsweredWhenTheyHavePassed) {
    const std::string logPath = ::testing::TempDir() + "released-command.log";
    ASSERT_TRUE(targets.Log().Open(logPath));
    targets.SetNow(10000);
    targets.Targets()[0]->Hold = Pick(EmulatedDrive::Kind::Identity, 1);
    targets.Targets()[0]->HoldSeconds = 8;
    emulator::EmulatedDriveFile& drive = DriveOf(0);
    drive.Drive().ClearLog();
    Initiator in(targets);
    in.Login(Drive0);
    EXPECT_TRUE(in.Send(in.Command(0xC0, IdentityCdb, 16)).empty());
    const uint32_t held = in.itt;
    EXPECT_EQ(in.connection.NextRelease(), 18000u);
    targets.SetNow(17999);
    in.connection.ReleaseDue();
    EXPECT_TRUE(in.Collect().empty()) << "not yet";
    EXPECT_EQ(drive.Drive().CommandCount(), 0u);
    targets.SetNow(18000);
    in.connection.ReleaseDue();
    const std::vector<Pdu> answer = in.Collect();
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer.back().Get32(16), held);
    EXPECT_EQ(drive.Drive().CommandCount(), 1u) << "carried out when answered";
    EXPECT_EQ(in.connection.NextRelease(), 0u);
    targets.Log().Close();
    const std::string log = ReadText(logPath);
    EXPECT_NE(log.find("kind=identity nth=1: answered in 8 s\n"), std::string::npos) << log;
    EXPECT_NE(log.find("c1 hold itt=" + Itt(held) + " ended: carried out and answered\n"), std::string::npos) << log;
}

TEST_F(SessionTest, ADropClosesAtOnceAndRefusesLoginsForItsSeconds) {
    const std::string logPath = ::testing::TempDir() + "dropped-link.log";
    ASSERT_TRUE(targets.Log().Open(logPath));
    targets.SetNow(50000);
    targets.Targets()[0]->Drop = Pick(EmulatedDrive::Kind::WriteChunk, 2);
    targets.Targets()[0]->DropSeconds = 5;
    emulator::EmulatedDrive& drive = DriveOf(0).Drive();
    const Bytes first(16, 0x11), second(16, 0x22), third(16, 0x33);
    {
        Initiator in(targets);
        in.Login(Drive0);
        const std::vector<Pdu> r = in.Send(in.Command(0xA0, Write16AtZeroCdb, 16, first));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].header[3], 0x00);
        // A command answered just before the drop loses its answer with the link.
        Bytes wire;
        in.Command(0x80, TurCdb, 0).Encode(false, false, wire);
        in.Command(0xA0, Write16AtZeroCdb, 16, second).Encode(false, false, wire);
        EXPECT_TRUE(in.SendBytes(wire).empty());
        EXPECT_TRUE(in.connection.Severed());
        EXPECT_TRUE(in.connection.Closing());
        const uint32_t dropped = in.itt;
        targets.Log().Close();
        EXPECT_NE(ReadText(logPath).find("c1 drop itt=" + Itt(dropped) +
                                         " cdb=3b070000000000001000 kind=write nth=2: connection closed, logins "
                                         "refused for 5 s\n"),
                  std::string::npos)
            << ReadText(logPath);
    }
    ASSERT_EQ(drive.CommandCount(), 2u) << "the write and the TEST UNIT READY, not the dropped write";
    EXPECT_EQ(drive.LogAt(1)->opcode, 0x00);
    EXPECT_EQ(Bytes(drive.Staging(), drive.Staging() + 16), first);

    struct Attempt { uint64_t now; const char* target; bool accepted; };
    const Attempt attempts[] = {
        {50000, Drive0, false}, {54999, Drive0, false}, {54999, Drive1, true}, {55000, Drive0, true},
    };
    uint32_t number = 2;
    for (const Attempt& a : attempts) {
        SCOPED_TRACE(a.now);
        targets.SetNow(a.now);
        Initiator in(targets, number, static_cast<uint8_t>(number));
        ++number;
        const Pdu r = in.Login(a.target);
        EXPECT_EQ(r.header[36], a.accepted ? 0x00 : 0x03) << "target error";
        EXPECT_EQ(r.header[37], a.accepted ? 0x00 : 0x01) << "service unavailable";
        EXPECT_EQ(in.connection.InFullFeature(), a.accepted);
        EXPECT_EQ(in.connection.Closing(), !a.accepted);
    }

    // Served again as it was; the drop does not come back.
    Initiator in(targets, number, static_cast<uint8_t>(number));
    in.Login(Drive0);
    const std::vector<Pdu> back = in.Send(in.Command(0xC0, {0x3C, 0x02, 0, 0, 0, 0, 0, 0, 0x10, 0}, 16));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].data, first);
    const std::vector<Pdu> w = in.Send(in.Command(0xA0, Write16AtZeroCdb, 16, third));
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].header[3], 0x00);
    EXPECT_FALSE(in.connection.Closing());
}

// --- a drive's latency: the command runs at once, its answer leaves when the latency has passed --

TEST_F(SessionTest, EachDrivesLatencyDelaysOnlyItsOwnAnswers) {
    targets.SetNow(1000);
    DriveOf(0).Drive().SetLatencyMicroseconds(30000);
    DriveOf(1).Drive().SetLatencyMicroseconds(9500);  // kept in whole milliseconds, never shorter
    Initiator a(targets, 1, 1), b(targets, 2, 2);
    a.Login(Drive0);
    b.Login(Drive1);
    EXPECT_TRUE(a.Send(a.Command(0xC0, IdentityCdb, 16)).empty());
    EXPECT_TRUE(b.Send(b.Command(0xC0, IdentityCdb, 16)).empty());
    EXPECT_EQ(DriveOf(0).Drive().CommandCount(), 1u) << "run at once";
    EXPECT_EQ(DriveOf(1).Drive().CommandCount(), 1u) << "run at once";
    EXPECT_EQ(a.connection.NextRelease(), 1030u);
    EXPECT_EQ(b.connection.NextRelease(), 1010u);

    struct Step { uint64_t now; size_t answersA, answersB; };
    const Step steps[] = {{1009, 0, 0}, {1010, 0, 1}, {1029, 0, 0}, {1030, 1, 0}, {5000, 0, 0}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.now);
        targets.SetNow(s.now);
        a.connection.ReleaseDue();
        b.connection.ReleaseDue();
        std::vector<Pdu> answers = a.Collect();
        EXPECT_EQ(answers.size(), s.answersA);
        const std::vector<Pdu> fromB = b.Collect();
        EXPECT_EQ(fromB.size(), s.answersB);
        answers.insert(answers.end(), fromB.begin(), fromB.end());
        for (const Pdu& r : answers) {
            EXPECT_EQ(r.Opcode(), Pdu::DataIn);
            EXPECT_EQ(r.Flags(), 0x81) << "final, with status";
            EXPECT_EQ(r.data.size(), 16u);
            EXPECT_EQ(r.Get32(32), r.Get32(28) + 7) << "MaxCmdSN: its place in the window given back";
        }
    }
    EXPECT_EQ(a.connection.NextRelease(), 0u);
    EXPECT_EQ(b.connection.NextRelease(), 0u);
}

TEST_F(SessionTest, AnswersOfOneConnectionLeaveInTheOrderTheCommandsRan) {
    targets.SetNow(1000);
    DriveOf(0).Drive().SetLatencyMicroseconds(10000);
    Initiator in(targets);
    in.Login(Drive0);
    EXPECT_TRUE(in.Send(in.Command(0xC0, IdentityCdb, 16)).empty());  // due at 1010
    const uint32_t first = in.itt;
    targets.SetNow(1004);
    EXPECT_TRUE(in.Send(in.Command(0x80, TurCdb, 0)).empty());  // due at 1014
    // The target answers these itself, at once, but not ahead of the commands before them.
    EXPECT_TRUE(in.Send(in.Command(0xC0, {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0}, 16)).empty());
    Pdu lunOne = in.Command(0x80, TurCdb, 0);
    lunOne.header[9] = 1;
    EXPECT_TRUE(in.Send(lunOne).empty());
    // A NOP answers no command: it leaves at once, its window short of the four in progress.
    Pdu ping = Pdu::Make(Pdu::NopOut | 0x40, 0x80);
    ping.Put32(16, 0x42);
    ping.Put32(20, Pdu::NoTag);
    const std::vector<Pdu> nop = in.Send(ping);
    ASSERT_EQ(nop.size(), 1u);
    EXPECT_EQ(nop[0].Get32(32), nop[0].Get32(28) + 3) << "MaxCmdSN";

    struct Step { uint64_t now; std::vector<uint32_t> answered; };  // task tags after the first
    const Step steps[] = {{1009, {}}, {1010, {0}}, {1013, {}}, {1014, {1, 2, 3}}};
    uint32_t statSn = nop[0].Get32(24);
    for (const Step& s : steps) {
        SCOPED_TRACE(s.now);
        targets.SetNow(s.now);
        in.connection.ReleaseDue();
        std::vector<uint32_t> answered;
        for (const Pdu& r : in.Collect()) {
            answered.push_back(r.InitiatorTaskTag() - first);
            EXPECT_EQ(r.Get32(24), ++statSn) << "StatSN in the order sent, after the NOP-In's";
        }
        EXPECT_EQ(answered, s.answered);
    }
}

TEST_F(SessionTest, ACommandWaitingForItsLatencyEndsAsAHeldOneDoes) {
    enum { ConnectionEnds = 0, Logout = 100 };  // else a task management function
    struct Case { const char* name; int end; bool secondAnswered; const char* why; };
    const Case cases[] = {
        {"abort task", 1, true, "ABORT TASK"},
        {"abort task set", 2, false, "ABORT TASK SET"},
        {"warm reset", 6, false, "TARGET WARM RESET"},
        {"logout", Logout, false, "logout"},
        {"connection ends", ConnectionEnds, false, "connection ended"},
    };
    const std::string logPath = ::testing::TempDir() + "waiting-answer.log";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(targets.Log().Open(logPath));
        targets.SetNow(1000);
        emulator::EmulatedDriveFile& drive = DriveOf(0);
        drive.Drive().SetLatencyMicroseconds(10000);
        drive.Drive().ClearLog();
        Initiator in(targets);
        in.Login(Drive0);
        EXPECT_TRUE(in.Send(in.Command(0xC0, IdentityCdb, 16)).empty());
        const uint32_t first = in.itt;
        EXPECT_TRUE(in.Send(in.Command(0x80, TurCdb, 0)).empty());

        if (c.end == ConnectionEnds) {
            in.connection.Dropped("test");
        } else {
            Pdu end = TaskManagementPdu(in, static_cast<uint8_t>(c.end), first);
            if (c.end == Logout) {
                end = Pdu::Make(Pdu::LogoutRequest | 0x40, 0x80);
                end.Put32(16, 0x43);
            }
            const std::vector<Pdu> r = in.Send(end);
            ASSERT_EQ(r.size(), 1u) << "its own answer and nothing for the waiting command";
            EXPECT_EQ(r[0].Opcode(), c.end == Logout ? Pdu::LogoutResponse : Pdu::TaskManagementResponse);
            EXPECT_EQ(r[0].header[2], 0);
        }
        targets.SetNow(2000);
        in.connection.ReleaseDue();
        const std::vector<Pdu> late = in.Collect();
        std::vector<uint32_t> answered;
        for (const Pdu& r : late) answered.push_back(r.InitiatorTaskTag());
        EXPECT_EQ(answered, c.secondAnswered ? std::vector<uint32_t>{first + 1} : std::vector<uint32_t>{});
        EXPECT_EQ(in.connection.NextRelease(), 0u);
        EXPECT_EQ(drive.Drive().CommandCount(), 2u) << "both ran when they arrived";
        targets.Log().Close();
        const std::string log = ReadText(logPath);
        EXPECT_NE(log.find("c1 command itt=" + Itt(first) + " cdb=3c010000000000001000 in edtl=16 status=0"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("c1 command itt=" + Itt(first) + " not answered: " + c.why + "\n"), std::string::npos)
            << log;
    }
}

TEST_F(SessionTest, TheConfigurationsMisbehaviourReachesTheDriveAndTheLink) {
    TargetConfig config;
    ASSERT_TRUE(config.Parse("drive iqn=iqn.2025-01.test:c attention=aftercommit notready=1 hold=dump:2 "
                             "drop=identity:1:9\n"))
        << config.Error();
    IscsiTargetSet set;
    std::string problem;
    ASSERT_TRUE(set.Add(config.Drives[0], problem)) << problem;
    const IscsiTargetSet::Target& target = *set.Targets()[0];
    EXPECT_EQ(target.Hold.kind, EmulatedDrive::Kind::Dump);
    EXPECT_EQ(target.Hold.nth, 2u);
    EXPECT_EQ(target.DropSeconds, 9u);

    Initiator in(set);
    in.Login("iqn.2025-01.test:c");
    ASSERT_EQ(in.Send(in.Command(0xA0, Write16AtZeroCdb, 16, Bytes(16, 0x44))).size(), 1u);
    const std::vector<Pdu> commit = in.Send(in.Command(0x80, CommitCdb, 0));
    ASSERT_EQ(commit.size(), 1u);
    EXPECT_EQ(commit[0].header[3], 0x00);
    // The sense as it travels in a SCSI Response: its length, then the fixed format.
    const Bytes expected[] = {{0x00, 0x12, 0x70, 0x00, 0x06, 0x3F, 0x01}, {0x00, 0x12, 0x70, 0x00, 0x02, 0x04, 0x01}};
    for (const Bytes& sense : expected) {
        const std::vector<Pdu> r = in.Send(in.Command(0x80, TurCdb, 0));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].header[3], 0x02);
        ASSERT_EQ(r[0].data.size(), 20u);
        EXPECT_EQ((Bytes{r[0].data[0], r[0].data[1], r[0].data[2], r[0].data[3], r[0].data[4], r[0].data[14],
                         r[0].data[15]}),
                  sense);
    }
    const std::vector<Pdu> empty = in.Send(in.Command(0x80, TurCdb, 0));  // then the drive's own answer: no disc
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ((Bytes{empty[0].header[3], empty[0].data[4], empty[0].data[14]}), (Bytes{0x02, 0x02, 0x3A}));
    EXPECT_TRUE(in.Send(in.Command(0xC0, IdentityCdb, 16)).empty());
    EXPECT_TRUE(in.connection.Severed());
}

}  // namespace
