#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "emulator/drive/DriveConfig.h"
#include "emulator/drive/EmulatedDrive.h"

namespace emulator {

// What the configuration files of the emulators (the ASPI manager DLL, the SCSI port driver's
// set-up) say about one emulated drive, beside its place on the bus.
struct DriveSettings {
    DriveConfig Config;
    std::string FlashPath;
    std::string MediumPath;  // empty: the drive holds no disc
    std::string LogPath;
    uint32_t LatencyMilliseconds = 0;
    std::vector<EmulatedDrive::FaultRule> Faults;
    uint32_t FailCommandNumber = 0;
    bool IdentityCheckWithData = false;
    bool Gone = false;
    EmulatedDrive::CommandPick Attention;
    bool AttentionAfterCommit = false;
    uint32_t NotReadyAfterCommit = 0;
    // What only a link can do; stored for the emulator that has one (the iSCSI target).
    EmulatedDrive::CommandPick Hold;
    uint32_t HoldSeconds = 0;   // 0: the held command is never answered
    EmulatedDrive::CommandPick Drop;
    uint32_t DropSeconds = 0;

    // The first key given that only an emulator with a link serves ("hold", "drop"); nullptr.
    const char* LinkKey() const { return Hold.nth != 0 ? "hold" : Drop.nth != 0 ? "drop" : nullptr; }
    // The first key given that changes how the drive answers after a commit or at a chosen
    // command ("attention", "notready"); nullptr.
    const char* ConditionKey() const {
        if (Attention.nth != 0 || AttentionAfterCommit) return "attention";
        return NotReadyAfterCommit != 0 ? "notready" : nullptr;
    }
};

// The text those configuration files share: one statement per line, words separated by blanks,
// '#' starts a comment. The first word names the statement, every other word is KEY=VALUE; a
// value may be put in double quotes to hold blanks or '#'. Numbers are decimal, or hex with 0x.
// Relative paths are relative to the directory of the file.
//
// A drive's own keys, the same in every file:
//   vendor=TEXT product=TEXT revision=TEXT  INQUIRY texts, at most 8, 16 and 4 characters
//   serial=TEXT                             unit serial number, at most 16 characters (default:
//                                           none, no serial number page)
//   type=N                                  peripheral device type (default 5, CD/DVD)
//   maker=W controller=W major=N minor=N    words of the identity block (defaults 0x4A7C, 0x6E15,
//                                           1, 0)
//   sizekib=N                               flash size word of the identity block (default 0: the
//                                           controller's usual size)
//   flashsize=N                             bytes of flash the drive really has (default sizekib *
//                                           1024, else the controller's usual size, else 128 KiB)
//   versionat=OFFSET                        report the two version words found in flash there,
//                                           so that a committed image changes the version
//   flash=PATH                              flash image: loaded when the file exists (it must
//                                           hold flashsize bytes), else created erased (0xFF);
//                                           written again after every commit
//   medium=PATH                             a disc in the drive: a read-only image of whole
//                                           2048-byte blocks (checked when the file is read);
//                                           without it the drive is empty, as during an upgrade,
//                                           and answers NOT READY, medium not present
//   log=PATH                                command log, a line for each command as soon as it
//                                           is answered
//   latency=MS                              time each command takes
//   fail=KIND[:OFFSET[:TIMES]]              CHECK CONDITION for TIMES (default 1, or "forever")
//                                           commands of KIND (any, inquiry, identity, dump,
//                                           readback, write, commit) whose flash range holds
//                                           OFFSET (default or "*": any); may be repeated
//   corrupt=OFFSET[:TIMES]                  flip the byte at OFFSET in TIMES read-backs
//   failnth=N                               fail the N-th command the drive receives
//   identitycheck=1                         answer the identity query with CHECK CONDITION and
//                                           valid data
//   gone=1                                  answer every command with NOT READY
//   attention=KIND[:NTH]                    UNIT ATTENTION (power on or reset, 29h/00h) for the
//                                           NTH (default 1) command of KIND, once, not carried out
//   attention=aftercommit                   after every commit answered GOOD, UNIT ATTENTION
//                                           (microcode changed, 3Fh/01h) for the next command
//                                           other than INQUIRY; may stand beside attention=KIND
//   notready=N                              after every commit answered GOOD (and its unit
//                                           attention), NOT READY (becoming ready, 04h/01h) for
//                                           the next N commands other than INQUIRY; N at most
//                                           100000
// What a link does to a drive's commands, for the emulators that have one (iscsi-target):
//   hold=KIND[:NTH[:SECONDS]]               hold the NTH command of KIND without an answer until
//                                           the initiator aborts it or the connection ends; with
//                                           SECONDS (at most 86400), carry it out and answer it
//                                           once they have passed
//   drop=KIND[:NTH[:SECONDS]]               close the connection when the NTH command of KIND
//                                           arrives, without carrying it out, and refuse logins
//                                           to the drive for SECONDS (default 0, at most 86400)
// Each of these acts once. NTH counts the commands of KIND (any counts every one of the kinds),
// from 1; rejected commands and the standard ones every drive answers are never counted. When
// hold and drop pick the same command, the drop wins.
class ConfigText {
public:
    static constexpr uint32_t MaxFlashSize = 0x1000000;
    static constexpr uint32_t MaxNotReadyCommands = 100000;
    static constexpr uint32_t MaxDropSeconds = 86400;
    static constexpr size_t MaxFileSize = 0x10000;

    using Words = std::vector<std::pair<std::string, std::string>>;

    static bool ParseNumber(const std::string& text, uint32_t max, uint32_t& value);

    // Hands every statement of TEXT, with its line number, to HANDLE, and stops at the first that
    // HANDLE refuses (false, LINE and PROBLEM left empty: HANDLE has said why) or that cannot be
    // split (false, with its LINE and PROBLEM: a word without '=' after the first, an unclosed
    // quote). Blank lines and comments are skipped.
    using StatementHandler = std::function<bool(size_t line, const std::string& statement, const Words& words)>;
    static bool ForEachStatement(const std::string& text, const StatementHandler& handle, size_t& line,
                                 std::string& problem);
    // "bad value for KEY: 'VALUE'".
    static std::string BadValue(const std::pair<std::string, std::string>& word);

    // Reads a whole configuration file of at most MaxFileSize bytes; false with PROBLEM.
    static bool ReadFile(const std::string& path, std::string& text, std::string& problem);

    // One key a statement knows, and how its value is stored: Take returns false for a value it
    // refuses, with PROBLEM, or with PROBLEM left empty for BadValue's text.
    struct Key {
        std::string Name;
        std::function<bool(const std::string& value, std::string& problem)> Take;
    };
    using Keys = std::vector<Key>;
    // A key whose value is whatever text TAKE accepts.
    static Key TextKey(const char* name, std::function<bool(const std::string& value)> take);
    // A key whose value is a number from MIN to MAX.
    static Key NumberKey(const char* name, uint32_t min, uint32_t max, std::function<void(uint32_t value)> take);

    // Hands the value of every word of a statement to the key of that name in KEYS (the first
    // one), and stops at the first word whose key is not there ("unknown key KEY") or whose
    // value is refused: false with PROBLEM.
    static bool ReadKeys(const Words& words, const Keys& keys, std::string& problem);

    // One drive being read: add its keys to a statement's, read the statement, then Finish it.
    class DriveReader {
    public:
        explicit DriveReader(const std::string& baseDirectory) : base_(baseDirectory) {}
        // Not copied: the keys it adds store into this reader.
        DriveReader(const DriveReader&) = delete;
        DriveReader& operator=(const DriveReader&) = delete;

        void AddKeys(Keys& keys);
        // Fills in the flash size when no key gave it.
        DriveSettings Finish();

    private:
        bool TakeFault(const std::string& value, bool corrupt, std::string& problem);
        bool TakeMedium(const std::string& value, std::string& problem);

        std::string base_;
        DriveSettings drive_;
        bool haveFlashSize_ = false;
    };

    static std::string DirectoryOf(const std::string& path);
    // PATH when it is absolute (a leading slash or backslash, or a drive letter), else BASE/PATH.
    static std::string Resolve(const std::string& base, const std::string& path);
};

}  // namespace emulator
