#pragma once

#include <stddef.h>
#include <stdint.h>

#include "emulator/drive/DriveConfig.h"

namespace emulator {

// One emulated drive answering SCSI commands the way the host sends them through a pass-through
// interface. Freestanding: no allocation, no exceptions, no library calls, no static state, so
// the same code runs in tests, in a user-mode DLL and in a kernel driver. The caller provides
// the flash and the staging buffer (each config.flashSize bytes) and keeps them alive.
//
// Not thread-safe: a wrapper that receives commands from several threads serializes them.
//
// Commands understood (anything else is CHECK CONDITION, ILLEGAL REQUEST):
//   INQUIRY        12 00 00 LL LL xx             36 bytes of standard data
//   READ BUFFER    3C 01 00 000000 LLLLLL 00     16-byte identity block
//   READ BUFFER    3C 01 II OOOOOO LLLLLL 01     committed flash at II*64K + OOOOOO
//   READ BUFFER    3C 02 II OOOOOO LLLLLL 00     staging area at II*64K + OOOOOO
//   WRITE BUFFER   3B 07 II OOOOOO LLLLLL 00     host data into staging at II*64K + OOOOOO
//   WRITE BUFFER   3B 04 xx xxxxxx 000000 00     staging area into flash (commit); buffer id
//                                                and offset are not looked at
//
// And what an operating system and its firmware ask of any drive before they use it (none of these
// touches the flash, and no fault rule meets them; the conditions after a commit do):
//   TEST UNIT READY      00                           GOOD with a disc in the drive, else NOT
//                                                     READY, medium not present (3Ah/00h)
//   REQUEST SENSE        03 00 00 00 LL 00            18 bytes, NO SENSE (sense travels with each
//                                                     CHECK CONDITION, none is kept), or the
//                                                     condition due after a commit (see
//                                                     SetAttentionAfterCommit)
//   INQUIRY VPD          12 01 PP LL LL 00            pages 00 (list), 80 (serial number, only when
//                                                     the drive has one), 83 (identification)
//   START STOP UNIT      1B xx xx xx PS xx            with LoEj (S bit 1) and power condition 0
//                                                     (P): Start (S bit 0) loads the disc, its
//                                                     absence ejects it; else nothing changes
//   MODE SENSE(6)        1A xx PP xx LL 00            the 4-byte header alone, for any page
//   READ CAPACITY(10)    25 ...                       the disc's last block and 2048; no disc:
//                                                     02h/3Ah/00h
//   READ(10)             28 xx BBBBBBBB xx NNNN xx    N blocks of the disc from block B; no disc:
//                                                     02h/3Ah/00h; past its end 05h/21h/00h
//   MODE SENSE(10)       5A xx PP xx xx xx xx LL LL 00  the 8-byte header alone
// A drive holds no disc unless it is given one (SetMedium): a drive being upgraded is empty.
// Each CDB may be longer than its group's length (ATAPI pads to 12 bytes); the rest is ignored.
class EmulatedDrive {
public:
    static constexpr uint8_t StatusGood = 0x00;
    static constexpr uint8_t StatusCheckCondition = 0x02;

    static constexpr uint8_t SenseNoSense = 0x00;
    static constexpr uint8_t SenseNotReady = 0x02;
    static constexpr uint8_t SenseMediumError = 0x03;
    static constexpr uint8_t SenseHardwareError = 0x04;
    static constexpr uint8_t SenseIllegalRequest = 0x05;
    static constexpr uint8_t SenseUnitAttention = 0x06;

    static constexpr uint8_t AscNotReady = 0x04;  // ASCQ 01h: in process of becoming ready
    static constexpr uint8_t AscWriteError = 0x0C;
    static constexpr uint8_t AscUnrecoveredReadError = 0x11;
    static constexpr uint8_t AscInvalidOpcode = 0x20;
    static constexpr uint8_t AscOutOfRange = 0x21;
    static constexpr uint8_t AscInvalidField = 0x24;
    static constexpr uint8_t AscPowerOnReset = 0x29;
    static constexpr uint8_t AscSequenceError = 0x2C;
    static constexpr uint8_t AscMediumNotPresent = 0x3A;
    static constexpr uint8_t AscOperatingConditions = 0x3F;  // ASCQ 01h: microcode has been changed

    static constexpr uint8_t OpTestUnitReady = 0x00;
    static constexpr uint8_t OpRequestSense = 0x03;
    static constexpr uint8_t OpInquiry = 0x12;
    static constexpr uint8_t OpModeSense6 = 0x1A;
    static constexpr uint8_t OpStartStopUnit = 0x1B;
    static constexpr uint8_t OpReadCapacity10 = 0x25;
    static constexpr uint8_t OpRead10 = 0x28;
    static constexpr uint8_t OpModeSense10 = 0x5A;
    static constexpr uint8_t OpWriteBuffer = 0x3B;
    static constexpr uint8_t OpReadBuffer = 0x3C;

    static constexpr uint32_t InquiryLength = 36;
    static constexpr uint32_t IdentityLength = 16;
    static constexpr uint32_t SenseLength = 18;
    static constexpr uint32_t CapacityLength = 8;
    static constexpr uint32_t BlockLength = 2048;
    static constexpr uint32_t LogCapacity = 1024;
    static constexpr uint32_t MaxFaultRules = 8;
    static constexpr uint32_t AnyOffset = 0xFFFFFFFFu;
    static constexpr uint32_t Forever = 0xFFFFFFFFu;

    // Sense of injected failures unless a rule says otherwise: HARDWARE ERROR, internal
    // target failure.
    static constexpr uint8_t FaultSenseKey = SenseHardwareError;
    static constexpr uint8_t FaultAsc = 0x44;

    enum class Direction : uint8_t { None = 0, In = 1, Out = 2 };

    // data is written for In and only read for Out; it is not const because pass-through
    // interfaces hand both kinds through the same pointer.
    struct Request {
        const uint8_t* cdb = nullptr;
        uint32_t cdbLength = 0;
        Direction direction = Direction::None;
        uint8_t* data = nullptr;
        uint32_t dataLength = 0;
        uint8_t* sense = nullptr;  // optional; fixed-format sense lands here on CHECK CONDITION
        uint32_t senseLength = 0;
    };

    struct Result {
        uint8_t status = 0;          // StatusGood or StatusCheckCondition
        uint32_t transferred = 0;    // bytes moved to or from request.data
        uint8_t senseKey = 0;        // the sense also written to request.sense, for convenience
        uint8_t asc = 0;
        uint8_t ascq = 0;
        uint32_t senseWritten = 0;   // bytes written to request.sense
    };

    // What a fault rule matches. Kinds are decided after the CDB has been found valid, so a
    // rejected command never consumes a rule.
    // Other stands for the commands the drive rejects, Standard for the ones every drive answers
    // (see the list above); no rule ever meets either.
    enum class Kind : uint8_t { Any, Inquiry, Identity, Dump, ReadBack, WriteChunk, Commit, Other, Standard };

    // Whether a rule for RULE meets a command of kind KIND: Any meets every family command.
    // Rules are about the family's commands; the operating system's own questions would
    // otherwise use up a rule meant for the program under test.
    static constexpr bool KindMatches(Kind rule, Kind kind) {
        return kind != Kind::Other && kind != Kind::Standard && (rule == Kind::Any || rule == kind);
    }
    // The word the configuration text uses for a kind a rule can name (any, inquiry, identity,
    // dump, readback, write, commit); nullptr for Other and Standard.
    static const char* KindName(Kind kind);

    // One command picked by its kind: the NTH (1-based) of those Classify puts in KIND. nth 0
    // picks none. It fires once; whoever keeps it counts with it.
    struct CommandPick {
        Kind kind = Kind::Any;
        uint32_t nth = 0;
        uint32_t seen = 0;

        // Counts a command of kind K; true for the one picked.
        bool Take(Kind k) {
            if (nth == 0 || seen >= nth || !KindMatches(kind, k)) return false;
            return ++seen == nth;
        }
    };

    enum class FaultAction : uint8_t {
        Fail,     // CHECK CONDITION with the rule's sense, nothing transferred, nothing changed
        // Answer GOOD but flip every bit of one returned byte; matches only commands that
        // return data.
        Corrupt,
    };

    struct FaultRule {
        Kind kind = Kind::Any;
        // Flash offset that the command's range must contain; AnyOffset matches every command.
        // Ignored for kinds without a flash range (inquiry, identity, commit). For Corrupt, the
        // byte at this offset is the one flipped (the first returned byte for AnyOffset).
        uint32_t offset = AnyOffset;
        uint32_t times = 1;  // how many commands it hits before it retires; Forever never retires
        FaultAction action = FaultAction::Fail;
        uint8_t senseKey = FaultSenseKey;
        uint8_t asc = FaultAsc;
        uint8_t ascq = 0x00;
    };

    // One received command. Fields come from the CDB as the 10-byte buffer commands lay them
    // out; for INQUIRY mode is byte 1 (EVPD), id the page code, length the allocation length and
    // control byte 5; for REQUEST SENSE and the MODE SENSEs length is the allocation length; for
    // READ(10) offset is the first block and length the block count; for START STOP UNIT mode is
    // byte 4 (power condition, LoEj, Start); for other opcodes only opcode and control (last CDB
    // byte) are filled in.
    struct LogEntry {
        uint8_t opcode;
        uint8_t mode;
        uint8_t bufferId;
        uint8_t control;
        uint32_t bufferOffset;
        uint32_t length;
        Direction direction;
        uint8_t status;
        uint8_t senseKey;
        uint8_t asc;
        uint8_t ascq;
        uint32_t hostDataLength;
    };

    // The disc a drive may hold: BLOCKS blocks of BlockLength bytes, read through READ, which
    // copies COUNT blocks from block LBA on into OUT (COUNT * BlockLength bytes) and returns false
    // for a read error. The caller keeps the blocks where it likes (a file on the host, memory) and
    // keeps them alive; the drive only asks for what a READ(10) wants.
    struct Medium {
        uint32_t blocks = 0;
        bool (*read)(void* context, uint32_t lba, uint32_t count, uint8_t* out) = nullptr;
        void* context = nullptr;
    };

    // Where a commit's image is kept beyond the drive's memory (a file): asked with the staged image
    // before it becomes the flash. False answers the commit MEDIUM ERROR, write error (03h/0Ch/00h)
    // and leaves flash and staging as they were, so that the host may commit again.
    using KeepImage = bool (*)(void* context, const uint8_t* image, uint32_t size);

    EmulatedDrive();
    // Attaches at once; see Attach.
    EmulatedDrive(const DriveConfig& config, uint8_t* flash, uint8_t* staging);

    // Takes a new configuration. The attached buffers must hold the new flashSize.
    void Configure(const DriveConfig& config);
    const DriveConfig& Config() const { return config_; }

    // Hands the drive its storage, each config.flashSize bytes; the flash keeps its content and
    // the staging area becomes a copy of it (see ResetStaging). Without storage (nullptr) every
    // flash access is out of range.
    void Attach(uint8_t* flash, uint8_t* staging);
    uint8_t* Flash() { return flash_; }
    const uint8_t* Flash() const { return flash_; }
    const uint8_t* Staging() const { return staging_; }
    uint32_t FlashSize() const { return flash_ != nullptr && staging_ != nullptr ? config_.flashSize : 0; }

    // Makes the staging area a copy of the flash and forgets anything received: the drive's
    // state after power-up. Call it after changing the flash through Flash().
    void ResetStaging();

    // Gives the drive its disc and puts it in (a Medium without blocks or read: no disc at all).
    // START STOP UNIT takes it out and puts it back; only this disc can go in.
    void SetMedium(const Medium& medium);
    bool MediumLoaded() const { return mediumLoaded_ && medium_.blocks != 0 && medium_.read != nullptr; }
    // Blocks of the disc in the drive; 0 when it is empty.
    uint32_t MediumBlocks() const { return MediumLoaded() ? medium_.blocks : 0; }
    // nullptr: a commit is kept in memory only.
    void SetImageKeeper(KeepImage keep, void* context);

    Result Execute(const Request& request);

    // The kind of command REQUEST is, as the fault rules see it, with the drive as it stands: a
    // command the drive would reject is Other. Changes nothing, so that a wrapper can ask before
    // it lets the command through.
    Kind Classify(const Request& request) const;

    // Faults. They act only on commands received after they are set.
    void SetGone(bool gone) { gone_ = gone; }
    bool Gone() const { return gone_; }
    // Fails the n-th command counted by CommandCount() (1-based); 0 switches it off.
    void FailCommandNumber(uint32_t n) { failCommandNumber_ = n; }
    // Returns false when all MaxFaultRules slots are taken by live rules.
    bool AddFault(const FaultRule& rule);
    bool FailCommand(Kind kind, uint32_t offset, uint32_t times);
    bool CorruptReadBack(uint32_t offset, uint32_t times);
    // Identity queries answer CHECK CONDITION (with the default fault sense) yet still fill the
    // host's buffer with valid data and report it transferred.
    void SetIdentityCheckWithData(bool on) { identityCheckWithData_ = on; }
    // Also clears the gone state, the n-th command failure, the identity quirk, the unit
    // attentions and the becoming ready, pending ones included.
    void ClearFaults();
    // Answers the NTH command of KIND with UNIT ATTENTION, power on or reset (29h/00h), without
    // carrying it out; once. The NTH is counted among those received from now on, whatever
    // answers them; only a gone drive and the n-th command failure answer it first.
    void SetAttention(Kind kind, uint32_t nth);
    // After every commit answered GOOD, the next command other than INQUIRY (which neither
    // reports nor clears a unit attention) gets UNIT ATTENTION, microcode has been changed
    // (3Fh/01h), and is not carried out. REQUEST SENSE instead returns it as its data, GOOD, and
    // clears it, as a drive does.
    void SetAttentionAfterCommit(bool on) { attentionAfterCommit_ = on; }
    // After every commit answered GOOD, and after its unit attention, the next COMMANDS commands
    // other than INQUIRY get NOT READY, becoming ready (04h/01h), and are not carried out
    // (REQUEST SENSE: the same as data, GOOD). Counted in commands: the drive has no clock.
    void SetNotReadyAfterCommit(uint32_t commands) { notReadyAfterCommit_ = commands; }
    // Only stored: the drive cannot wait, the wrapper that can applies it per command.
    void SetLatencyMicroseconds(uint32_t us) { latencyUs_ = us; }
    uint32_t LatencyMicroseconds() const { return latencyUs_; }

    // Log. The first LogCapacity commands are kept; later ones are counted but not stored.
    uint32_t CommandCount() const { return commandCount_; }
    uint32_t LogSize() const { return commandCount_ < LogCapacity ? commandCount_ : LogCapacity; }
    // nullptr past LogSize().
    const LogEntry* LogAt(uint32_t index) const;
    // The command Execute ran last, kept also once the log is full (zeros before the first).
    const LogEntry& LastCommand() const { return last_; }
    // Empties the log and restarts the command count (which FailCommandNumber counts in).
    void ClearLog() { commandCount_ = 0; }

    uint32_t CommitCount() const { return commitCount_; }
    bool ReceivedSinceCommit() const { return received_; }

private:
    struct Cdb {
        uint8_t opcode;
        uint8_t mode;
        uint8_t bufferId;
        uint8_t control;
        uint32_t bufferOffset;
        uint32_t length;
        uint32_t flashOffset;
    };

    struct Outcome {
        uint8_t status;
        uint8_t senseKey;
        uint8_t asc;
        uint8_t ascq;
        uint32_t transferred;
    };

    static Cdb Parse(const Request& request);
    static Outcome Good(uint32_t transferred);
    static Outcome Check(uint8_t key, uint8_t asc, uint8_t ascq);
    static bool Uses10ByteLayout(uint8_t opcode);
    // Fixed-format sense, SenseLength bytes.
    static void FillSense(uint8_t* out, uint8_t key, uint8_t asc, uint8_t ascq);

    Outcome Dispatch(const Request& request, const Cdb& cdb);
    // The kind, or Other with the answer that rejects the command.
    Kind Classify(const Request& request, const Cdb& cdb, Outcome& rejection) const;
    // The unit attention or the becoming ready due after a commit; false when none is.
    bool AfterCommitCondition(const Request& request, const Cdb& cdb, Kind kind, Outcome& answer);
    // A condition reported: CHECK CONDITION, or for REQUEST SENSE its data.
    static Outcome Condition(const Request& request, const Cdb& cdb, Kind kind, uint8_t key, uint8_t asc, uint8_t ascq);
    // Fills kind on success; otherwise the outcome carries the rejection.
    bool Validate(const Request& request, const Cdb& cdb, Kind& kind, Outcome& rejection) const;
    bool ValidateInquiry(const Request& request, bool dataOk, Kind& kind, Outcome& rejection) const;
    bool ValidateStandard(const Request& request, const Cdb& cdb, bool dataOk, Outcome& rejection) const;
    bool ValidateReadBuffer(const Request& request, const Cdb& cdb, Kind& kind, Outcome& rejection) const;
    bool ValidateWriteBuffer(const Request& request, const Cdb& cdb, Kind& kind, Outcome& rejection) const;
    bool ChunkInRange(const Cdb& cdb) const;
    FaultRule* MatchFault(Kind kind, const Cdb& cdb);
    Outcome Perform(const Request& request, const Cdb& cdb, Kind kind);
    void FillInquiry(uint8_t* out) const;
    void FillIdentity(uint8_t* out) const;
    Outcome PerformStandard(const Request& request, const Cdb& cdb);
    Outcome Commit();
    Outcome ReadBlocks(const Request& request, const Cdb& cdb) const;
    Outcome ReadCapacity(const Request& request) const;
    void StartStop(uint8_t flags);
    // The answer of a standard command that only reports into OUT (room for MaxStandardAnswer);
    // returns its length.
    uint32_t FillStandard(const uint8_t* cdb, uint8_t* out) const;
    bool OffersPage(uint8_t page) const;
    static constexpr uint32_t MaxStandardAnswer = 64;
    void Record(const Request& request, const Cdb& cdb, const Outcome& outcome);

    DriveConfig config_;
    uint8_t* flash_ = nullptr;
    uint8_t* staging_ = nullptr;

    bool received_ = false;
    uint32_t commitCount_ = 0;
    KeepImage keepImage_ = nullptr;
    void* keepContext_ = nullptr;

    Medium medium_;
    bool mediumLoaded_ = false;

    bool gone_ = false;
    bool identityCheckWithData_ = false;
    uint32_t failCommandNumber_ = 0;
    uint32_t latencyUs_ = 0;
    FaultRule faults_[MaxFaultRules];
    CommandPick attention_;
    bool attentionAfterCommit_ = false;
    uint32_t notReadyAfterCommit_ = 0;
    // What the last commit left to report.
    bool microcodeChanged_ = false;
    uint32_t notReadyLeft_ = 0;

    uint32_t commandCount_ = 0;
    LogEntry last_ = {};
    LogEntry log_[LogCapacity];
};

}  // namespace emulator
