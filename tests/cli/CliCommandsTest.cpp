// flashupgrade's list and image commands, its options, help and version.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "cli/JsonWriter.h"
#include "cli/ProgramTexts.h"
#include "tests/cli/CliBench.h"

namespace {

using Lines = std::vector<std::string>;

TEST(CliList, OneLinePerDriveInBusOrderWithItsNode) {
    CliBench bench;
    bench.Machine.AddDrive({1, 0, 0, 0}, "sr1", "sg1");
    bench.Machine.AddDrive({0, 0, 2, 0}, "sr0", "sg0");
    // Numbers that Linux reaches after many re-plugs, wider than a byte.
    bench.Machine.AddDrive({70000, 300, 4000, 0}, "sr3", "sg3");
    bench.Machine.AddDrive({255, 0, 0, 0}, "sr2", "sg2");
    for (const char* arguments : {"", "list"}) {
        SCOPED_TRACE(arguments);
        bench.Terminal.Out.clear();
        EXPECT_EQ(bench.Run(arguments), 0);
        EXPECT_EQ(bench.OutLines(), (Lines{"1: (0, 0, 2, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr0",
                                           "2: (1, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr1",
                                           "3: (255, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr2",
                                           "4: (70000, 300, 4000, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr3"}));
        EXPECT_EQ(bench.Terminal.Err, "");
    }
}

TEST(CliList, NoDriveAndNoOpenableDriveAreTwoDifferentThings) {
    struct Case {
        const char* Name;
        bool Drive;
        int OpenError;
        int Exit;
        Lines Err;
    };
    const Case cases[] = {
        {"nothing there", false, 0, 1, {"No Optical Media Found!!"}},
        {"no permission", true, EACCES, 2,
         {"flashupgrade: /dev/sr0: no permission: needs root, or read and write access to /dev/sr0",
          "flashupgrade: found 1 CD/DVD device but could open none"}},
        {"gone", true, ENXIO, 2,
         {"flashupgrade: /dev/sr0: gone: the drive is no longer there",
          "flashupgrade: found 1 CD/DVD device but could open none"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        if (c.Drive) bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        if (c.OpenError != 0) bench.Machine.Machine.FailOpen("/dev/sr0", c.OpenError);
        EXPECT_EQ(bench.Run("list"), c.Exit);
        EXPECT_EQ(bench.Terminal.Out, "");
        EXPECT_EQ(bench.ErrLines(), c.Err);
    }
}

TEST(CliList, ADriveThatCannotBeOpenedIsNamedBesideTheOthers) {
    CliBench bench;
    bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    bench.Machine.AddDrive({0, 0, 1, 0}, "sr1", "sg1");
    bench.Machine.Machine.Mount("/dev/sr0");      // a mount does not keep the scan out
    bench.Machine.Machine.FailOpen("/dev/sr1", EACCES);
    EXPECT_EQ(bench.Run("list"), 0);
    EXPECT_EQ(bench.OutLines(), (Lines{"1: (0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr0"}));
    EXPECT_EQ(bench.ErrLines(),
              (Lines{"flashupgrade: /dev/sr1: no permission: needs root, or read and write access to /dev/sr1"}));
}

TEST(CliImage, TellsTheEmbeddedImageOrWhyThereIsNone) {
    struct Case {
        const char* Name;
        const char* ChecksumText;
        bool Unfilled;
        int Exit;
        const char* Line;
    };
    // 131071 bytes of 0x02 and one of 0x12 sum to 0x0010.
    const Case cases[] = {
        {"good", "0010", false, 0, "image version 1.51, checksum 0010, good"},
        {"lower-case checksum text", "001a", false, 1, "Check sum not match!! (0010 / 001A)"},
        {"mismatch", "0011", false, 1, "Check sum not match!! (0010 / 0011)"},
        {"unfilled", "0010", true, 1, "Need Combine firmware first !!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        bench.SetImage(0x02, 0x12, c.ChecksumText);
        if (c.Unfilled) bench.LeaveSlotUnfilled();
        EXPECT_EQ(bench.Run("image"), c.Exit);
        EXPECT_EQ(bench.OutLines(), (Lines{c.Line}));
        // No drive is looked for.
        EXPECT_TRUE(bench.Machine.Machine.OpenCalls().empty());
    }
}

TEST(CliImage, ItsJsonDocumentGoesOutAndAFailureStillSaysWhyOnTheStandardError) {
    for (bool good : {true, false}) {
        SCOPED_TRACE(good);
        CliBench bench;
        bench.SetImage(0x02, 0x12, good ? "0010" : "0011");
        EXPECT_EQ(bench.Run("image --json"), good ? 0 : 1);
        EXPECT_EQ(bench.OutLines(),
                  (Lines{std::string("{\"filled\":true,\"version\":\"1.51\",\"checksum\":\"") + (good ? "0010" : "0011") +
                         "\",\"computedChecksum\":\"0010\",\"size\":131072,\"good\":" + (good ? "true" : "false") + "}"}));
        EXPECT_EQ(bench.ErrLines(), good ? Lines{} : Lines{"Check sum not match!! (0010 / 0011)"});
    }
}

TEST(CliJson, TextsAreEscapedWhereJsonNeedsItAndOnlyThere) {
    struct Case {
        std::string Text;
        const char* Json;
    };
    const Case cases[] = {
        {"plain ~", "\"plain ~\""},
        {"\x1F\x20", "\"\\u001F \""},
        {"\x7E\x7F\x80", "\"~\\u007F\\u0080\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
    };
    for (const Case& c : cases) {
        JsonWriter json;
        json.String(c.Text);
        EXPECT_EQ(json.Text(), c.Json) << c.Json;
    }
    JsonWriter json;
    json.BeginObject();
    json.Key("a");
    json.BeginArray();
    json.Number(1);
    json.Boolean(false);
    json.EndArray();
    json.Key("b");
    json.String("");
    json.EndObject();
    EXPECT_EQ(json.Text(), "{\"a\":[1,false],\"b\":\"\"}");
}

TEST(CliOptions, ACommandLineThatIsNoneOfTheProgramsStopsWithExit2AndSendsNothing) {
    struct Case {
        const char* Arguments;
        const char* Reason;
    };
    const Case cases[] = {
        {"flash", "unknown command 'flash'"},
        {"-x", "unexpected argument '-x'"},
        {"--yes", "'--yes' is no option of list"},
        {"list --yes", "'--yes' is no option of list"},
        {"image --drive 1", "'--drive' is no option of image"},
        {"image --all", "'--all' is no option of image"},
        {"upgrade --all --drive 2", "'--all' and '--drive' name the drives twice: give one of them"},
        {"verify --device /dev/sr0 --all", "'--all' and '--device' name the drives twice: give one of them"},
        {"upgrade --drive 1,2,1", "'--drive' names drive 1 twice"},
        {"upgrade --drive 1,", "'--drive' needs drive numbers as list shows them (1, 2, ... or 1,3,4)"},
        {"upgrade --drive ,2", "'--drive' needs drive numbers as list shows them (1, 2, ... or 1,3,4)"},
        {"verify --yes", "'--yes' is no option of verify"},
        {"save", "save needs the FILE to write the flash into"},
        {"save a b", "unexpected argument 'b'"},
        {"upgrade --drive", "'--drive' needs a value"},
        {"upgrade --drive 0", "'--drive' needs drive numbers as list shows them (1, 2, ... or 1,3,4)"},
        {"upgrade --drive x", "'--drive' needs drive numbers as list shows them (1, 2, ... or 1,3,4)"},
        {"upgrade --drive 1000", "'--drive' needs drive numbers as list shows them (1, 2, ... or 1,3,4)"},
        {"upgrade --drive 1 --device /dev/sr0", "'--drive' and '--device' name the drive twice: give one of them"},
        {"upgrade --yes=1", "'--yes' takes no value"},
        {"upgrade --backup", "'--backup' needs a value"},
        {"verify --force", "'--force' is no option of verify"},
        {"save x.bin --allow-older", "'--allow-older' is no option of save"},
        {"list extra", "unexpected argument 'extra'"},
        {"list -v", "'-v' is no option of list"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Arguments);
        CliBench bench;
        bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        EXPECT_EQ(bench.Run(c.Arguments), 2);
        EXPECT_EQ(bench.ErrLines(), (Lines{std::string("flashupgrade: ") + c.Reason, "Try 'flashupgrade --help'."}));
        EXPECT_TRUE(bench.Machine.Machine.OpenCalls().empty());
    }
}

TEST(CliOptions, ValuesFollowAsTheNextArgumentOrAfterAnEqualsSign) {
    for (const char* arguments : {"upgrade --yes --drive 2", "upgrade --yes --drive=2", "upgrade --device /dev/sr1 --yes",
                                  "upgrade --device=/dev/sr1 --yes"}) {
        SCOPED_TRACE(arguments);
        CliBench bench;
        emulator::EmulatedDrive& first = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        emulator::EmulatedDrive& second = bench.Machine.AddDrive({0, 0, 1, 0}, "sr1", "sg1");
        EXPECT_EQ(bench.Run(arguments), 0);
        EXPECT_EQ(first.CommitCount(), 0u);
        EXPECT_EQ(second.CommitCount(), 1u);
    }
}

TEST(CliOptions, HelpAndVersionNeedNoDrive) {
    struct Case {
        const char* Arguments;
        std::string Out;
    };
    const Case cases[] = {
        {"--version", "flashupgrade 1.51\n"},
        {"--help", ProgramTexts::Help()},
        {"-h", ProgramTexts::Help()},
        {"upgrade --help", ProgramTexts::Help()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Arguments);
        CliBench bench;
        EXPECT_EQ(bench.Run(c.Arguments), 0);
        EXPECT_EQ(bench.Terminal.Out, c.Out);
        EXPECT_TRUE(bench.Machine.Machine.OpenCalls().empty());
    }
}

}  // namespace
