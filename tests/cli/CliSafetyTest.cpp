// flashupgrade when things go wrong: stop signals before and during the write, the exit status
// and last line of an upgrade that wrote something and did not complete, the drive's sense, the
// retry rules, the time-out, the check after the commit and the command trace.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/FailureTexts.h"
#include "tests/cli/CliBench.h"

namespace {

using emulator::EmulatedDrive;
using Forced = SimulatedLinuxMachine::ForcedOutcome;
using Lines = std::vector<std::string>;

const char IncompleteLine[] =
    "Do not power off or restart the computer or the drive: its firmware may be incomplete. Run the same upgrade "
    "again: flashupgrade upgrade --device /dev/sr0";

// Commands as "3B07" (opcode and mode), for matching a bench's hook against the N-th of a kind.
std::string Code(const std::vector<uint8_t>& cdb) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X", unsigned{cdb[0]}, cdb.size() > 1 ? unsigned{cdb[1]} : 0u);
    return text;
}

// Runs ACTION once, on the N-th command CODE that reaches the machine; its errno fails that call.
void OnCommand(CliBench& bench, const std::string& code, int n, std::function<int()> action) {
    auto seen = std::make_shared<int>(0);
    bench.Machine.Machine.BeforeCommand = [code, n, action, seen](const std::vector<uint8_t>& cdb) {
        if (Code(cdb) != code || ++*seen != n) return 0;
        return action();
    };
}

// Delivers SIGNAL on the N-th command CODE; a caught signal interrupts that SG_IO with EINTR.
void SignalOn(CliBench& bench, const std::string& code, int n, int signal) {
    OnCommand(bench, code, n, [&bench, signal] { return bench.Signals.Deliver(signal) ? EINTR : 0; });
}

// The N-th command CODE finds the drive gone: it leaves sysfs and the call fails with ENODEV.
void GoneOn(CliBench& bench, const std::string& code, int n) {
    OnCommand(bench, code, n, [&bench] {
        bench.Machine.Machine.DetachDevice({0, 0, 0, 0});
        return ENODEV;
    });
}

// The N-th command CODE never reaches the drive, and the kernel reports HOST and DRIVER status.
void UnansweredOn(CliBench& bench, const std::string& code, int n, uint16_t host, uint16_t driver) {
    OnCommand(bench, code, n, [&bench, host, driver] {
        Forced lost;
        lost.Active = lost.Unanswered = true;
        lost.HostStatus = host;
        lost.DriverStatus = driver;
        bench.Machine.Machine.Force(lost);
        return 0;
    });
}

size_t Count(const EmulatedDrive& drive, unsigned code) {
    size_t n = 0;
    for (unsigned c : CliBench::FirmwareCommands(drive)) n += c == code ? 1 : 0;
    return n;
}

bool FlashIsImage(const CliBench& bench, const EmulatedDrive& drive) {
    return std::memcmp(drive.Flash(), bench.Image().data(), CliBench::ImageSize) == 0;
}

TEST(CliSignals, BeforeTheFirstWriteASignalEndsTheRunWithNothingWritten) {
    struct Case {
        const char* Name;
        const char* Arguments;
        void (*Arrange)(CliBench&);
        int Exit;
        const char* Line;
    };
    const Case cases[] = {
        {"during the scan", "upgrade --yes", [](CliBench& b) { SignalOn(b, "1200", 1, SIGINT); }, 130,
         "flashupgrade: stopped by SIGINT: nothing was written to the drive"},
        {"during the question", "upgrade",
         [](CliBench& b) {
             b.Terminal.Input = true;
             b.Terminal.WhileReading = [&b] { return b.Signals.Deliver(SIGINT); };
         },
         130, "flashupgrade: stopped by SIGINT: nothing was written to the drive"},
        {"during the back-up", "upgrade --yes --backup old.bin", [](CliBench& b) { SignalOn(b, "3C01", 4, SIGTERM); },
         143, "flashupgrade: stopped by SIGTERM: nothing was written to the drive; old.bin left as it was"},
        {"after the back-up, before the first write", "upgrade --yes --backup old.bin",
         [](CliBench& b) {
             // The last dump read (after the identity queries of the scan and of the back-up's open):
             // the back-up completes, the upgrade does not start.
             OnCommand(b, "3C01", 10, [&b] { return b.Signals.Deliver(SIGHUP), 0; });
         },
         129, "flashupgrade: stopped by SIGHUP: nothing was written to the drive"},
        // The third read that compares the flash with the image: no question, no write.
        {"during the reads before the writes", "upgrade --yes", [](CliBench& b) { SignalOn(b, "3C01", 5, SIGINT); },
         130, "flashupgrade: stopped by SIGINT: nothing was written to the drive"},
        {"during a dry run", "upgrade --yes --dry-run", [](CliBench& b) { SignalOn(b, "3C01", 1, SIGTERM); }, 143,
         "flashupgrade: stopped by SIGTERM: nothing was written to the drive"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        c.Arrange(bench);
        EXPECT_EQ(bench.Run(c.Arguments), c.Exit);
        EXPECT_EQ(bench.ErrLines().back(), c.Line);
        EXPECT_EQ(Count(drive, 0x3B07) + Count(drive, 0x3B04), 0u);
        // The back-up is whole or not there, and no temporary file is left.
        for (const auto& file : bench.Files.Files) EXPECT_EQ(file.first, "old.bin");
        EXPECT_EQ(bench.Machine.Machine.OpenDescriptors(), 0);
        EXPECT_EQ(bench.Buffers.Held(), 0u);
    }
}

TEST(CliSignals, FromTheFirstWriteTheyAreHeldUntilTheUpgradeIsDoneAndSaidOnce) {
    struct Case {
        const char* Name;
        const char* Code;
        int N;
        int Signal;
    };
    const Case cases[] = {
        {"SIGTERM at the third write", "3B07", 3, SIGTERM},
        {"SIGINT at a read-back", "3C02", 6, SIGINT},
        {"SIGHUP at the commit", "3B04", 1, SIGHUP},
        // The identity queries of the scan and of two opens, and the eight reads that compare the
        // flash with the image, come first; no identity query follows the commit.
        {"SIGINT during the read-back after the commit", "3C01", 12, SIGINT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        bench.Terminal.Error = true;
        int seen = 0, writes = 0;
        bench.Machine.Machine.BeforeCommand = [&](const std::vector<uint8_t>& cdb) {
            if (Code(cdb) == c.Code && ++seen == c.N && bench.Signals.Deliver(c.Signal)) return EINTR;
            // A second signal changes nothing and is not said again.
            if (Code(cdb) == "3B07" && ++writes == 7 && bench.Signals.Deliver(SIGTERM)) return EINTR;
            return 0;
        };
        EXPECT_EQ(bench.Run("upgrade --yes"), 0);
        EXPECT_TRUE(FlashIsImage(bench, drive));
        EXPECT_EQ(drive.CommitCount(), 1u);
        EXPECT_TRUE(bench.Signals.Holding);
        EXPECT_EQ(bench.OutLines().back(), "flash equals image version 1.51");
        size_t said = 0;
        for (const std::string& line : bench.ErrLines()) {
            if (line.find("received while image version 1.51 is written to (0, 0, 0, 0) EMULATED") == std::string::npos)
                continue;
            ++said;
            EXPECT_NE(line.find("stopping now could leave the drive without working firmware; the program stops as "
                                "soon as the write is done"),
                      std::string::npos);
            EXPECT_EQ(line.compare(0, 14, "flashupgrade: "), 0);
        }
        EXPECT_EQ(said, 1u);
        // The bar gives way to the line and goes on below it; no line is left empty.
        for (const std::string& line : bench.ErrLines()) EXPECT_FALSE(line.empty());
    }
}

TEST(CliSignals, SaveAndVerifyStopBetweenChunksAndLeaveNoFile) {
    for (const char* arguments : {"save out.bin", "verify"}) {
        SCOPED_TRACE(arguments);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        // The third dump read (after the identity queries of the scan and of the open) is
        // interrupted and not tried again.
        SignalOn(bench, "3C01", 5, SIGINT);
        EXPECT_EQ(bench.Run(arguments), 130);
        EXPECT_TRUE(bench.Files.Files.empty());
        EXPECT_EQ(Count(drive, 0x3C11), 2u);
        EXPECT_EQ(bench.Machine.Machine.OpenDescriptors(), 0);
    }
    // A file that was there before stays as it was.
    CliBench bench;
    bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    bench.Files.Files["out.bin"] = {1, 2, 3};
    SignalOn(bench, "3C01", 6, SIGTERM);
    EXPECT_EQ(bench.Run("save out.bin --yes"), 143);
    EXPECT_EQ(bench.Files.Files["out.bin"], (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(bench.ErrLines().back(), "flashupgrade: stopped by SIGTERM: nothing was written to the drive; out.bin "
                                       "left as it was");
}

TEST(CliSignals, OnlyTheCommandsThatSpeakToADriveCatchThem) {
    for (const char* arguments : {"list", "image", "--help"}) {
        CliBench bench;
        bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        bench.Run(arguments);
        EXPECT_FALSE(bench.Signals.Catching) << arguments;
    }
}

// What an upgrade that wrote something and did not complete says, and its status 3; and the
// failures before any write that stay 1 or 2.
TEST(CliStatus, SomethingWrittenAndNotCompleteIsThreeWithWhatToDo) {
    struct Case {
        const char* Name;
        const char* Arguments;
        void (*Arrange)(CliBench&, EmulatedDrive&);
        int Exit;
        size_t Writes;   // chunk writes sent
        Lines Err;
    };
    const Case cases[] = {
        {"a refused commit", "upgrade --yes",
         [](CliBench&, EmulatedDrive& d) { d.FailCommand(EmulatedDrive::Kind::Commit, EmulatedDrive::AnyOffset, 1); },
         3, 8,
         {"flashupgrade: /dev/sg0: the drive answered CHECK CONDITION, sense 04/44/00 HARDWARE ERROR, INTERNAL TARGET "
          "FAILURE"}},
        {"the drive gone at the fifth write", "upgrade --yes",
         [](CliBench& b, EmulatedDrive&) { GoneOn(b, "3B07", 5); },
         3, 5, {"flashupgrade: /dev/sg0: gone: the drive is no longer there"}},
        {"the link lost at the third read-back", "upgrade --yes",
         [](CliBench& b, EmulatedDrive&) { UnansweredOn(b, "3C02", 3, 0x01, 0); },
         3, 3, {"flashupgrade: /dev/sg0: gone: the drive's link was lost (host status 0x01)"}},
        {"no answer to the fourth write", "upgrade --yes --timeout 5",
         [](CliBench& b, EmulatedDrive&) { UnansweredOn(b, "3B07", 4, 0x03, 0); },
         3, 4, {"flashupgrade: /dev/sg0: the drive stopped answering: no answer within 5 s"}},
        {"the drive gone during the read-back after the commit", "upgrade --yes",
         // The second of the reads after the commit: after the eight that came before the writes.
         [](CliBench& b, EmulatedDrive&) { GoneOn(b, "3C01", 13); },
         3, 8, {"flashupgrade: /dev/sg0: gone: the drive is no longer there"}},
        // A write with no answer may have reached the flash, the first one too.
        {"no answer to the first write", "upgrade --yes",
         [](CliBench& b, EmulatedDrive&) { UnansweredOn(b, "3B07", 1, 0, 0x06); },
         3, 1, {"flashupgrade: /dev/sg0: the drive stopped answering: no answer within 256 s"}},
        {"the first chunk refused five times", "upgrade --yes",
         [](CliBench&, EmulatedDrive& d) { d.FailCommand(EmulatedDrive::Kind::WriteChunk, 0, 5); }, 1, 5,
         {"flashupgrade: /dev/sg0: the drive answered CHECK CONDITION, sense 04/44/00 HARDWARE ERROR, INTERNAL TARGET "
          "FAILURE"}},
        {"the drive gone before the first write", "upgrade --yes",
         [](CliBench& b, EmulatedDrive&) { GoneOn(b, "3B07", 1); },
         2, 1, {"flashupgrade: /dev/sg0: gone: the drive is no longer there"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        c.Arrange(bench, drive);
        EXPECT_EQ(bench.Run(c.Arguments), c.Exit);
        size_t writes = 0;
        for (const SimulatedLinuxMachine::ScsiCall& call : bench.Machine.Machine.ScsiCalls()) {
            if (call.Cdb.size() > 1 && call.Cdb[0] == 0x3B && call.Cdb[1] == 0x07) ++writes;
        }
        EXPECT_EQ(writes, c.Writes);
        EXPECT_EQ(bench.ErrLines(), c.Err);
        if (c.Exit == 3) {
            EXPECT_EQ(bench.OutLines().back(), IncompleteLine);
        } else {
            EXPECT_NE(bench.OutLines().back(), IncompleteLine);
        }
        EXPECT_EQ(bench.Machine.Machine.OpenDescriptors(), 0);
    }
}

// After the commit: the drive's restart waited for, then the whole flash compared with the image.
TEST(CliStatus, TheFlashIsReadBackAfterTheCommitOnceTheDriveIsReady) {
    struct Case {
        const char* Name;
        const char* Arguments;
        int NotReadyAnswers;   // TEST UNIT READY answered 02/NotReady this often
        uint8_t NotReady[2];   // ASC and ASCQ
        bool Attention;        // then once 06/3F/01
        bool SpoilFlash;       // the flash differs from the image after the commit
        int Exit;
        std::vector<unsigned> Pauses;
        const char* Last;
    };
    const std::vector<unsigned> commitPause{200};
    const char* const equal = "flash equals image version 1.51";
    const Case cases[] = {
        {"the empty drive's own answer", "upgrade --yes", 0, {0x04, 0x01}, false, false, 0, commitPause, equal},
        {"a unit attention", "upgrade --yes", 0, {0x04, 0x01}, true, false, 0, commitPause, equal},
        {"becoming ready for three seconds", "upgrade --yes", 3, {0x04, 0x01}, true, false, 0,
         {200, 1000, 1000, 1000}, equal},
        {"never ready", "upgrade --yes", 1000, {0x04, 0x01}, false, false, 3, std::vector<unsigned>(), IncompleteLine},
        {"a flash that differs", "upgrade --yes", 0, {0x04, 0x01}, false, true, 3, commitPause, IncompleteLine},
        {"not read back", "upgrade --yes --no-verify", 0, {0x04, 0x01}, false, true, 0, commitPause,
         "Committed; the flash was not read back after the commit (--no-verify)"},
        // Medium not present is the answer of a drive that has started; it holds no disc.
        {"no disc", "upgrade --yes", 3, {0x3A, 0x00}, false, false, 0, commitPause, equal},
        {"no disc, tray closed", "upgrade --yes", 3, {0x3A, 0x01}, false, false, 0, commitPause, equal},
        {"no disc, tray open", "upgrade --yes", 3, {0x3A, 0x02}, false, false, 0, commitPause, equal},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        int unitReadyAsked = 0;
        bench.Machine.Machine.BeforeCommand = [&](const std::vector<uint8_t>& cdb) {
            Forced answer;
            if (cdb[0] != 0x00) {
                bench.Machine.Machine.Force(answer);  // the drive answers the rest itself
                return 0;
            }
            if (++unitReadyAsked == 1 && c.SpoilFlash) drive.Flash()[0x9000] ^= 0x01;
            answer.Active = unitReadyAsked <= c.NotReadyAnswers + (c.Attention ? 1 : 0);
            answer.Status = 0x02;
            answer.SenseKey = unitReadyAsked <= c.NotReadyAnswers ? 0x02 : 0x06;
            answer.Asc = unitReadyAsked <= c.NotReadyAnswers ? c.NotReady[0] : 0x3F;
            answer.Ascq = unitReadyAsked <= c.NotReadyAnswers ? c.NotReady[1] : 0x01;
            bench.Machine.Machine.Force(answer);
            return 0;
        };
        EXPECT_EQ(bench.Run(c.Arguments), c.Exit);
        EXPECT_EQ(bench.OutLines().back(), c.Last);
        if (!c.Pauses.empty()) {
            EXPECT_EQ(bench.Sleep.Pauses, c.Pauses);
        }
        const bool readBack = std::string(c.Arguments).find("--no-verify") == std::string::npos;
        // The eight reads before the writes, and the eight after the commit.
        EXPECT_EQ(Count(drive, 0x3C11), 8u + (readBack && c.NotReadyAnswers < 1000 ? 8u : 0u));
    }
    // Never ready: a minute of one-second pauses, then the status-3 line.
    CliBench bench;
    bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    bench.Machine.Machine.BeforeCommand = [&](const std::vector<uint8_t>& cdb) {
        Forced answer;
        answer.Active = cdb[0] == 0x00;
        answer.Status = 0x02;
        answer.SenseKey = 0x02;
        answer.Asc = 0x04;
        answer.Ascq = 0x01;
        bench.Machine.Machine.Force(answer);
        return 0;
    };
    EXPECT_EQ(bench.Run("upgrade --yes"), 3);
    EXPECT_EQ(bench.Sleep.Pauses.size(), 61u);
    const Lines out = bench.OutLines();
    EXPECT_EQ(out[out.size() - 2], "The drive was still becoming ready 60 s after the commit; its flash was not read back");

    // A unit attention for good: eight are taken as news and asked again at once, the rest wait
    // like NOT READY.
    CliBench repeating;
    repeating.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    size_t asked = 0;
    repeating.Machine.Machine.BeforeCommand = [&](const std::vector<uint8_t>& cdb) {
        Forced answer;
        answer.Active = cdb[0] == 0x00;
        asked += answer.Active ? 1 : 0;
        answer.Status = 0x02;
        answer.SenseKey = 0x06;
        answer.Asc = 0x29;
        repeating.Machine.Machine.Force(answer);
        return 0;
    };
    EXPECT_EQ(repeating.Run("upgrade --yes"), 3);
    EXPECT_EQ(asked, 8u + 61u);
    EXPECT_EQ(repeating.Sleep.Pauses.size(), 61u);
}

// An attempt that the drive asks time for is made again after a pause; one it refuses, at once;
// one it never answers, or a drive that is gone, not at all.
TEST(CliRetries, APauseOnlyWhereTheDriveAsksForTimeAndNoRetryWithoutAnAnswer) {
    struct Case {
        const char* Name;
        uint8_t SenseKey, Asc, Ascq;
        uint16_t HostStatus;
        int Exit;
        size_t Writes;
        std::vector<unsigned> Pauses;
    };
    const Case cases[] = {
        {"unit attention", 0x06, 0x29, 0x00, 0, 0, 9, {1000, 200}},
        {"becoming ready", 0x02, 0x04, 0x01, 0, 0, 9, {1000, 200}},
        {"not ready, cause not reportable", 0x02, 0x04, 0x00, 0, 0, 9, {200}},
        {"invalid field in the CDB", 0x05, 0x24, 0x00, 0, 0, 9, {200}},
        {"timed out", 0, 0, 0, 0x03, 3, 3, {}},
        {"no connection", 0, 0, 0, 0x01, 3, 3, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        OnCommand(bench, "3B07", 3, [&bench, &c] {
            Forced answer;
            answer.Active = true;
            answer.Unanswered = c.HostStatus != 0;
            answer.Status = c.HostStatus != 0 ? 0 : 0x02;
            answer.HostStatus = c.HostStatus;
            answer.SenseKey = c.SenseKey;
            answer.Asc = c.Asc;
            answer.Ascq = c.Ascq;
            bench.Machine.Machine.Force(answer);
            // Only this command: the next one is answered by the drive again.
            bench.Machine.Machine.BeforeCommand = [&bench](const std::vector<uint8_t>&) {
                bench.Machine.Machine.Force(Forced());
                return 0;
            };
            return 0;
        });
        EXPECT_EQ(bench.Run("upgrade --yes"), c.Exit);
        size_t writes = 0;
        for (const SimulatedLinuxMachine::ScsiCall& call : bench.Machine.Machine.ScsiCalls()) {
            if (call.Cdb.size() > 1 && call.Cdb[0] == 0x3B && call.Cdb[1] == 0x07) ++writes;
        }
        EXPECT_EQ(writes, c.Writes);
        EXPECT_EQ(bench.Sleep.Pauses, c.Pauses);
    }
}

TEST(CliTimeOut, EveryCommandCarriesTheTimeOutAskedFor) {
    struct Case {
        const char* Arguments;
        int Exit;
        unsigned Milliseconds;
    };
    const Case cases[] = {
        {"verify", 0, 256000},
        {"verify --timeout 5", 0, 5000},
        {"verify --timeout=3600", 0, 3600000},
        {"verify --timeout 0", 2, 0},
        {"verify --timeout 3601", 2, 0},
        {"verify --timeout 5s", 2, 0},
        {"list --timeout 5", 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Arguments);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        std::memcpy(drive.Flash(), bench.Image().data(), CliBench::ImageSize);
        EXPECT_EQ(bench.Run(c.Arguments), c.Exit);
        const std::vector<SimulatedLinuxMachine::ScsiCall>& calls = bench.Machine.Machine.ScsiCalls();
        if (c.Exit == 2) {
            EXPECT_TRUE(calls.empty());
            continue;
        }
        // The scan's two, the open's two, eight dumps.
        ASSERT_EQ(calls.size(), 12u);
        for (const SimulatedLinuxMachine::ScsiCall& call : calls) EXPECT_EQ(call.Header.timeout, c.Milliseconds);
    }
}

TEST(CliTrace, VerboseGivesOneLinePerCommandAndTwiceTheirData) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    std::memcpy(drive.Flash(), bench.Image().data(), CliBench::ImageSize);
    drive.FailCommand(EmulatedDrive::Kind::Dump, 0x4000, 1);
    bench.Terminal.Error = true;   // the bar gives way to the trace
    EXPECT_EQ(bench.Run("verify -v"), 0);
    const Lines err = bench.ErrLines();
    ASSERT_EQ(err.size(), 13u);
    EXPECT_EQ(err[0], "flashupgrade: 12 00 00 00 C0 00 in 192: status 0x00 host 0x00 driver 0x00 resid 156 0 ms");
    EXPECT_EQ(err[2], err[0]);   // asked again once the drive is held
    EXPECT_EQ(err[4], "flashupgrade: 3C 01 00 00 00 00 00 40 00 01 in 16384: status 0x00 host 0x00 driver 0x00 resid 0 "
                      "0 ms");
    EXPECT_EQ(err[5], "flashupgrade: 3C 01 00 00 40 00 00 40 00 01 in 16384: status 0x02 host 0x00 driver 0x08 resid "
                      "16384 0 ms, sense 04/44/00 HARDWARE ERROR, INTERNAL TARGET FAILURE");

    CliBench twice;
    EmulatedDrive& second = twice.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    std::memcpy(second.Flash(), twice.Image().data(), CliBench::ImageSize);
    second.FailCommand(EmulatedDrive::Kind::Dump, 0x8000, 1);
    EXPECT_EQ(twice.Run("verify --verbose --verbose"), 0);
    const Lines lines = twice.ErrLines();
    // Thirteen commands, each with the data that came in but the failed one, which brought none.
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[12].compare(0, 44, "flashupgrade: 3C 01 00 00 80 00 00 40 00 01 "), 0) << lines[12];
    EXPECT_EQ(lines[13].compare(0, 44, "flashupgrade: 3C 01 00 00 80 00 00 40 00 01 "), 0) << lines[13];
    std::string first;
    char byte[4];
    for (size_t i = 0; i < 32; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", unsigned{twice.Image()[i]});
        first += byte;
    }
    EXPECT_EQ(lines[9], "flashupgrade:   data in: " + first);
    // What came in, not the room: 32 of the INQUIRY's 36 bytes, the identity's 16.
    const auto bytesShown = [](const std::string& line) { return (line.size() - line.rfind(": ") - 1) / 3; };
    EXPECT_EQ(lines[1].compare(0, 25, "flashupgrade:   data in: "), 0);
    EXPECT_EQ(bytesShown(lines[1]), 32u);
    EXPECT_EQ(bytesShown(lines[3]), 16u);

    // Twice, on an upgrade: the data that went out.
    CliBench upgrade;
    upgrade.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    EXPECT_EQ(upgrade.Run("upgrade --yes -vv"), 0);
    const Lines out = upgrade.ErrLines();
    // After the scan, the open, the eight reads that compare the flash and the open for the writes,
    // each command with its data.
    ASSERT_GE(out.size(), 30u);
    EXPECT_EQ(out[28].compare(0, 44, "flashupgrade: 3B 07 00 00 00 00 00 40 00 00 "), 0) << out[28];
    EXPECT_EQ(out[29], "flashupgrade:   data out: " + first);
}

// The standard names, as SPC lists them: a code off by one names another condition.
TEST(FailureTexts, TheStandardNamesOfTheKeysAndCodes) {
    const char* const keys[16] = {"NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
                                  "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
                                  "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
                                  "RESERVED (0Ch)", "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED"};
    for (uint8_t key = 0; key < 16; ++key) EXPECT_STREQ(FailureTexts::SenseKey(key), keys[key]);
    struct Code {
        uint8_t Asc, Ascq;
        const char* Text;
    };
    const Code codes[] = {
        {0x04, 0x00, "LOGICAL UNIT NOT READY, CAUSE NOT REPORTABLE"},
        {0x04, 0x01, "LOGICAL UNIT IS IN PROCESS OF BECOMING READY"},
        {0x0C, 0x00, "WRITE ERROR"},
        {0x11, 0x00, "UNRECOVERED READ ERROR"},
        {0x20, 0x00, "INVALID COMMAND OPERATION CODE"},
        {0x21, 0x00, "LOGICAL BLOCK ADDRESS OUT OF RANGE"},
        {0x24, 0x00, "INVALID FIELD IN CDB"},
        {0x26, 0x00, "INVALID FIELD IN PARAMETER LIST"},
        {0x28, 0x00, "NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED"},
        {0x29, 0x00, "POWER ON, RESET, OR BUS DEVICE RESET OCCURRED"},
        {0x2C, 0x00, "COMMAND SEQUENCE ERROR"},
        {0x3A, 0x00, "MEDIUM NOT PRESENT"},
        {0x3F, 0x01, "MICROCODE HAS BEEN CHANGED"},
        {0x44, 0x00, "INTERNAL TARGET FAILURE"},
    };
    for (const Code& code : codes) {
        const char* text = FailureTexts::AdditionalSense(code.Asc, code.Ascq);
        ASSERT_NE(text, nullptr) << code.Text;
        EXPECT_STREQ(text, code.Text);
        // The neighbours are other conditions, not known here.
        EXPECT_EQ(FailureTexts::AdditionalSense(code.Asc, static_cast<uint8_t>(code.Ascq + 2)), nullptr);
    }
}

TEST(FailureTexts, SenseAndReasonsInWords) {
    EXPECT_EQ(FailureTexts::Sense(0x05, 0x24, 0x00), "sense 05/24/00 ILLEGAL REQUEST, INVALID FIELD IN CDB");
    EXPECT_EQ(FailureTexts::Sense(0x06, 0x3F, 0x01), "sense 06/3F/01 UNIT ATTENTION, MICROCODE HAS BEEN CHANGED");
    EXPECT_EQ(FailureTexts::Sense(0x02, 0x04, 0x01),
              "sense 02/04/01 NOT READY, LOGICAL UNIT IS IN PROCESS OF BECOMING READY");
    EXPECT_EQ(FailureTexts::Sense(0x03, 0x11, 0x00), "sense 03/11/00 MEDIUM ERROR, UNRECOVERED READ ERROR");
    EXPECT_EQ(FailureTexts::Sense(0x0B, 0x47, 0x03), "sense 0B/47/03 ABORTED COMMAND");

    TransportFailure failure;
    failure.Node = "/dev/sg1";
    EXPECT_EQ(FailureTexts::Reason(failure, 5000), "");
    failure.Why = TransportFailure::Cause::TimedOut;
    EXPECT_EQ(FailureTexts::Reason(failure, 2500), "flashupgrade: /dev/sg1: the drive stopped answering: no answer "
                                                   "within 2.5 s");
    failure.Why = TransportFailure::Cause::Answered;
    failure.Status = 0x08;
    EXPECT_EQ(FailureTexts::Reason(failure, 5000), "flashupgrade: /dev/sg1: the drive answered status 0x08");
    failure.Why = TransportFailure::Cause::Failed;
    failure.HostStatus = 0x07;
    failure.DriverStatus = 0x00;
    EXPECT_EQ(FailureTexts::Reason(failure, 5000), "flashupgrade: /dev/sg1: the command failed on its way (host "
                                                   "status 0x07, driver status 0x00)");
}

}  // namespace
