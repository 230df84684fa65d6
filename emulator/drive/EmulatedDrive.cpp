#include "emulator/drive/EmulatedDrive.h"

namespace emulator {

namespace {

// Own loops instead of the C library: the kernel build links no C runtime.
void CopyBytes(uint8_t* to, const uint8_t* from, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        to[i] = from[i];
    }
}

void ZeroBytes(uint8_t* to, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        to[i] = 0;
    }
}

uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

uint32_t Be16(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 8) | p[1];
}

uint32_t Be24(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 16) | Be16(p + 1);
}

uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | Be24(p + 1);
}

void PutBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t GetLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void PutBe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>((v >> 8) & 0xFF);
    p[1] = static_cast<uint8_t>(v & 0xFF);
}

// The shortest CDB of each standard command that carries all the fields it is read for.
uint32_t StandardCdbLength(uint8_t opcode) {
    switch (opcode) {
    case EmulatedDrive::OpTestUnitReady:
    case EmulatedDrive::OpRequestSense:
    case EmulatedDrive::OpModeSense6:
    case EmulatedDrive::OpStartStopUnit:
        return 6;
    case EmulatedDrive::OpReadCapacity10:
    case EmulatedDrive::OpRead10:
    case EmulatedDrive::OpModeSense10:
        return 10;
    default:
        return 0;
    }
}

bool HasFlashRange(EmulatedDrive::Kind kind) {
    return kind == EmulatedDrive::Kind::Dump || kind == EmulatedDrive::Kind::ReadBack ||
           kind == EmulatedDrive::Kind::WriteChunk;
}

}  // namespace

EmulatedDrive::EmulatedDrive() { ClearFaults(); }

EmulatedDrive::EmulatedDrive(const DriveConfig& config, uint8_t* flash, uint8_t* staging)
    : config_(config) {
    ClearFaults();
    Attach(flash, staging);
}

void EmulatedDrive::Configure(const DriveConfig& config) { config_ = config; }

void EmulatedDrive::Attach(uint8_t* flash, uint8_t* staging) {
    flash_ = flash;
    staging_ = staging;
    ResetStaging();
}

void EmulatedDrive::ResetStaging() {
    if (FlashSize() != 0) {
        CopyBytes(staging_, flash_, FlashSize());
    }
    received_ = false;
}

void EmulatedDrive::SetMedium(const Medium& medium) {
    medium_ = medium;
    mediumLoaded_ = true;
}

void EmulatedDrive::SetImageKeeper(KeepImage keep, void* context) {
    keepImage_ = keep;
    keepContext_ = context;
}

bool EmulatedDrive::AddFault(const FaultRule& rule) {
    if (rule.times == 0) {
        return true;
    }
    for (FaultRule& slot : faults_) {
        if (slot.times == 0) {
            slot = rule;
            return true;
        }
    }
    return false;
}

bool EmulatedDrive::FailCommand(Kind kind, uint32_t offset, uint32_t times) {
    FaultRule rule;
    rule.kind = kind;
    rule.offset = offset;
    rule.times = times;
    return AddFault(rule);
}

bool EmulatedDrive::CorruptReadBack(uint32_t offset, uint32_t times) {
    FaultRule rule;
    rule.kind = Kind::ReadBack;
    rule.offset = offset;
    rule.times = times;
    rule.action = FaultAction::Corrupt;
    return AddFault(rule);
}

void EmulatedDrive::ClearFaults() {
    for (FaultRule& slot : faults_) {
        slot.times = 0;
    }
    gone_ = false;
    identityCheckWithData_ = false;
    failCommandNumber_ = 0;
    attention_ = CommandPick();
    attentionAfterCommit_ = false;
    notReadyAfterCommit_ = 0;
    microcodeChanged_ = false;
    notReadyLeft_ = 0;
}

void EmulatedDrive::SetAttention(Kind kind, uint32_t nth) {
    attention_ = CommandPick();
    attention_.kind = kind;
    attention_.nth = nth;
}

const char* EmulatedDrive::KindName(Kind kind) {
    switch (kind) {
    case Kind::Any: return "any";
    case Kind::Inquiry: return "inquiry";
    case Kind::Identity: return "identity";
    case Kind::Dump: return "dump";
    case Kind::ReadBack: return "readback";
    case Kind::WriteChunk: return "write";
    case Kind::Commit: return "commit";
    case Kind::Other:
    case Kind::Standard:
        break;
    }
    return nullptr;
}

const EmulatedDrive::LogEntry* EmulatedDrive::LogAt(uint32_t index) const {
    return index < LogSize() ? &log_[index] : nullptr;
}

bool EmulatedDrive::Uses10ByteLayout(uint8_t opcode) {
    return opcode == OpReadBuffer || opcode == OpWriteBuffer;
}

EmulatedDrive::Cdb EmulatedDrive::Parse(const Request& request) {
    Cdb cdb = {};
    if (request.cdb == nullptr || request.cdbLength == 0) {
        return cdb;
    }
    const uint8_t* c = request.cdb;
    cdb.opcode = c[0];
    cdb.control = c[request.cdbLength - 1];
    if (Uses10ByteLayout(cdb.opcode) && request.cdbLength >= 10) {
        cdb.mode = c[1] & 0x1F;
        cdb.bufferId = c[2];
        cdb.bufferOffset = Be24(c + 3);
        cdb.length = Be24(c + 6);
        cdb.control = c[9];
        // Cannot overflow: at most 255 * 64 KiB + 16 MiB.
        cdb.flashOffset = static_cast<uint32_t>(cdb.bufferId) * 0x10000u + cdb.bufferOffset;
    } else if (cdb.opcode == OpInquiry && request.cdbLength >= 6) {
        cdb.mode = c[1];
        cdb.bufferId = c[2];
        cdb.length = (static_cast<uint32_t>(c[3]) << 8) | c[4];
        cdb.control = c[5];
    } else if ((cdb.opcode == OpRequestSense || cdb.opcode == OpModeSense6) && request.cdbLength >= 6) {
        cdb.length = c[4];
    } else if (cdb.opcode == OpModeSense10 && request.cdbLength >= 10) {
        cdb.length = Be16(c + 7);
    } else if (cdb.opcode == OpRead10 && request.cdbLength >= 10) {
        cdb.bufferOffset = Be32(c + 2);
        cdb.length = Be16(c + 7);
    } else if (cdb.opcode == OpStartStopUnit && request.cdbLength >= 6) {
        cdb.mode = c[4];
    } else if (cdb.opcode == OpReadCapacity10) {
        cdb.length = 8;
    }
    return cdb;
}

EmulatedDrive::Outcome EmulatedDrive::Good(uint32_t transferred) {
    Outcome o = {StatusGood, SenseNoSense, 0, 0, transferred};
    return o;
}

EmulatedDrive::Outcome EmulatedDrive::Check(uint8_t key, uint8_t asc, uint8_t ascq) {
    Outcome o = {StatusCheckCondition, key, asc, ascq, 0};
    return o;
}

void EmulatedDrive::FillSense(uint8_t* out, uint8_t key, uint8_t asc, uint8_t ascq) {
    ZeroBytes(out, SenseLength);
    out[0] = 0x70;  // current error, fixed format
    out[2] = key;
    out[7] = SenseLength - 8;
    out[12] = asc;
    out[13] = ascq;
}

EmulatedDrive::Result EmulatedDrive::Execute(const Request& request) {
    ++commandCount_;
    const Cdb cdb = Parse(request);
    const Outcome outcome = Dispatch(request, cdb);
    Record(request, cdb, outcome);

    Result result;
    result.status = outcome.status;
    result.transferred = outcome.transferred;
    if (outcome.status != StatusGood) {
        result.senseKey = outcome.senseKey;
        result.asc = outcome.asc;
        result.ascq = outcome.ascq;
        if (request.sense != nullptr && request.senseLength != 0) {
            uint8_t sense[SenseLength];
            FillSense(sense, outcome.senseKey, outcome.asc, outcome.ascq);
            result.senseWritten = Min(request.senseLength, SenseLength);
            CopyBytes(request.sense, sense, result.senseWritten);
        }
    }
    return result;
}

EmulatedDrive::Kind EmulatedDrive::Classify(const Request& request) const {
    Outcome rejection = {};
    return Classify(request, Parse(request), rejection);
}

EmulatedDrive::Kind EmulatedDrive::Classify(const Request& request, const Cdb& cdb, Outcome& rejection) const {
    Kind kind = Kind::Other;
    if (request.cdb == nullptr || request.cdbLength == 0) {
        rejection = Check(SenseIllegalRequest, AscInvalidOpcode, 0);
    } else if (!Validate(request, cdb, kind, rejection)) {
        kind = Kind::Other;
    }
    return kind;
}

EmulatedDrive::Outcome EmulatedDrive::Dispatch(const Request& request, const Cdb& cdb) {
    Outcome rejection = {};
    const Kind kind = Classify(request, cdb, rejection);
    // Counted before anything answers, so that the NTH is the NTH received.
    const bool attention = attention_.Take(kind);

    // A drive that is gone or broken says so before it looks at the command.
    if (gone_) {
        return Check(SenseNotReady, AscNotReady, 0x00);
    }
    if (failCommandNumber_ != 0 && commandCount_ == failCommandNumber_) {
        return Check(FaultSenseKey, FaultAsc, 0);
    }
    if (attention) {
        return Check(SenseUnitAttention, AscPowerOnReset, 0x00);
    }
    // Reported before the command is looked at further, whatever it is, as a drive does.
    Outcome condition = {};
    if (AfterCommitCondition(request, cdb, kind, condition)) {
        return condition;
    }
    if (kind == Kind::Other) {
        return rejection;
    }

    FaultRule* fault = MatchFault(kind, cdb);
    if (fault != nullptr && fault->action == FaultAction::Fail) {
        const Outcome failed = Check(fault->senseKey, fault->asc, fault->ascq);
        if (fault->times != Forever) {
            --fault->times;
        }
        return failed;
    }

    Outcome outcome = Perform(request, cdb, kind);
    if (kind == Kind::Commit && outcome.status == StatusGood) {
        microcodeChanged_ = attentionAfterCommit_;
        notReadyLeft_ = notReadyAfterCommit_;
    }
    if (fault != nullptr && outcome.transferred != 0) {
        uint32_t at = 0;
        if (HasFlashRange(kind) && fault->offset != AnyOffset) {
            at = fault->offset - cdb.flashOffset;
        }
        if (at < outcome.transferred) {
            request.data[at] ^= 0xFF;
        }
        if (fault->times != Forever) {
            --fault->times;
        }
    }
    return outcome;
}

bool EmulatedDrive::AfterCommitCondition(const Request& request, const Cdb& cdb, Kind kind, Outcome& answer) {
    // INQUIRY neither reports nor clears a unit attention, and a host asks it while it waits.
    if (cdb.opcode == OpInquiry || (!microcodeChanged_ && notReadyLeft_ == 0)) {
        return false;
    }
    if (microcodeChanged_) {
        microcodeChanged_ = false;
        answer = Condition(request, cdb, kind, SenseUnitAttention, AscOperatingConditions, 0x01);
    } else {
        --notReadyLeft_;
        answer = Condition(request, cdb, kind, SenseNotReady, AscNotReady, 0x01);
    }
    return true;
}

EmulatedDrive::Outcome EmulatedDrive::Condition(const Request& request, const Cdb& cdb, Kind kind, uint8_t key,
                                                uint8_t asc, uint8_t ascq) {
    // REQUEST SENSE is how a host without autosense learns of the condition: it gets it as data.
    if (cdb.opcode != OpRequestSense || kind != Kind::Standard) {
        return Check(key, asc, ascq);
    }
    uint8_t data[SenseLength];
    FillSense(data, key, asc, ascq);
    const uint32_t n = request.direction == Direction::In ? Min(Min(cdb.length, request.dataLength), SenseLength) : 0;
    CopyBytes(request.data, data, n);
    return Good(n);
}

bool EmulatedDrive::ChunkInRange(const Cdb& cdb) const {
    return static_cast<uint64_t>(cdb.flashOffset) + cdb.length <= FlashSize();
}

bool EmulatedDrive::Validate(const Request& request, const Cdb& cdb, Kind& kind, Outcome& rejection) const {
    const bool dataOk = request.dataLength == 0 || request.data != nullptr;
    if (cdb.opcode == OpInquiry) {
        return ValidateInquiry(request, dataOk, kind, rejection);
    }

    if (StandardCdbLength(cdb.opcode) != 0) {
        if (!ValidateStandard(request, cdb, dataOk, rejection)) {
            return false;
        }
        kind = Kind::Standard;
        return true;
    }

    if (!Uses10ByteLayout(cdb.opcode)) {
        rejection = Check(SenseIllegalRequest, AscInvalidOpcode, 0);
        return false;
    }
    if (request.cdbLength < 10 || (request.cdb[1] & 0xE0) != 0 || !dataOk) {
        rejection = Check(SenseIllegalRequest, AscInvalidField, 0);
        return false;
    }
    if (cdb.opcode == OpReadBuffer) {
        return ValidateReadBuffer(request, cdb, kind, rejection);
    }
    return ValidateWriteBuffer(request, cdb, kind, rejection);
}

bool EmulatedDrive::ValidateInquiry(const Request& request, bool dataOk, Kind& kind, Outcome& rejection) const {
    const uint8_t* c = request.cdb;
    // Byte 1 holds the old LUN bits and EVPD; a page code without EVPD is invalid.
    if (request.cdbLength >= 6 && request.direction == Direction::In && dataOk) {
        if (c[1] == 0 && c[2] == 0) {
            kind = Kind::Inquiry;
            return true;
        }
        if (c[1] == 0x01 && OffersPage(c[2])) {
            kind = Kind::Standard;
            return true;
        }
    }
    rejection = Check(SenseIllegalRequest, AscInvalidField, 0);
    return false;
}

bool EmulatedDrive::ValidateStandard(const Request& request, const Cdb& cdb, bool dataOk, Outcome& rejection) const {
    bool valid = request.cdbLength >= StandardCdbLength(cdb.opcode) && dataOk;
    if (valid && cdb.opcode == OpRead10 && cdb.length != 0) {
        // As for the chunk reads: a drive moves every block asked for, and would overrun a
        // shorter buffer.
        valid = request.direction == Direction::In &&
                static_cast<uint64_t>(cdb.length) * BlockLength <= request.dataLength;
    }
    if (!valid) {
        rejection = Check(SenseIllegalRequest, AscInvalidField, 0);
    }
    return valid;
}

bool EmulatedDrive::ValidateReadBuffer(const Request& request, const Cdb& cdb, Kind& kind, Outcome& rejection) const {
    const Outcome invalidField = Check(SenseIllegalRequest, AscInvalidField, 0);
    if (request.direction != Direction::In) {
        rejection = invalidField;
        return false;
    }
    if (cdb.mode == 1 && cdb.control == 0x00) {
        // The identity block lives only at buffer 0 offset 0; its allocation length may be
        // anything, the host gets at most 16 bytes.
        if (cdb.bufferId != 0 || cdb.bufferOffset != 0) {
            rejection = invalidField;
            return false;
        }
        kind = Kind::Identity;
        return true;
    }
    if (cdb.mode == 1 && cdb.control == 0x01) {
        kind = Kind::Dump;
    } else if (cdb.mode == 2 && cdb.control == 0x00) {
        kind = Kind::ReadBack;
    } else {
        rejection = invalidField;
        return false;
    }
    // Chunk reads move exactly the allocation length: an empty one is a host bug rather
    // than a query, and a host buffer shorter than it would be overrun by a real drive.
    if (cdb.length == 0 || request.dataLength < cdb.length) {
        rejection = invalidField;
        return false;
    }
    if (!ChunkInRange(cdb)) {
        rejection = Check(SenseIllegalRequest, AscOutOfRange, 0);
        return false;
    }
    return true;
}

bool EmulatedDrive::ValidateWriteBuffer(const Request& request, const Cdb& cdb, Kind& kind, Outcome& rejection) const {
    const Outcome invalidField = Check(SenseIllegalRequest, AscInvalidField, 0);
    if (cdb.mode == 7) {
        if (request.direction != Direction::Out || cdb.control != 0 || cdb.length == 0 ||
            cdb.length != request.dataLength) {
            rejection = invalidField;
            return false;
        }
        if (!ChunkInRange(cdb)) {
            rejection = Check(SenseIllegalRequest, AscOutOfRange, 0);
            return false;
        }
        kind = Kind::WriteChunk;
        return true;
    }
    if (cdb.mode == 4) {
        if (request.direction == Direction::In || cdb.control != 0 || cdb.length != 0 ||
            request.dataLength != 0) {
            rejection = invalidField;
            return false;
        }
        if (!received_) {
            rejection = Check(SenseIllegalRequest, AscSequenceError, 0);
            return false;
        }
        kind = Kind::Commit;
        return true;
    }
    rejection = invalidField;
    return false;
}

EmulatedDrive::FaultRule* EmulatedDrive::MatchFault(Kind kind, const Cdb& cdb) {
    FaultRule* corrupt = nullptr;
    for (FaultRule& rule : faults_) {
        if (rule.times == 0 || !KindMatches(rule.kind, kind)) {
            continue;
        }
        if (rule.action == FaultAction::Corrupt && (kind == Kind::WriteChunk || kind == Kind::Commit)) {
            continue;
        }
        if (rule.offset != AnyOffset && HasFlashRange(kind) &&
            (rule.offset < cdb.flashOffset || rule.offset - cdb.flashOffset >= cdb.length)) {
            continue;
        }
        if (rule.action == FaultAction::Fail) {
            return &rule;  // a failure wins over a corruption that also matches
        }
        if (corrupt == nullptr) {
            corrupt = &rule;
        }
    }
    return corrupt;
}

EmulatedDrive::Outcome EmulatedDrive::Perform(const Request& request, const Cdb& cdb, Kind kind) {
    switch (kind) {
    case Kind::Inquiry: {
        uint8_t data[InquiryLength];
        FillInquiry(data);
        const uint32_t n = Min(Min(cdb.length, request.dataLength), InquiryLength);
        CopyBytes(request.data, data, n);
        return Good(n);
    }
    case Kind::Identity: {
        uint8_t data[IdentityLength];
        FillIdentity(data);
        const uint32_t n = Min(Min(cdb.length, request.dataLength), IdentityLength);
        CopyBytes(request.data, data, n);
        if (identityCheckWithData_) {
            Outcome o = Check(FaultSenseKey, FaultAsc, 0);
            o.transferred = n;
            return o;
        }
        return Good(n);
    }
    case Kind::Dump:
        CopyBytes(request.data, flash_ + cdb.flashOffset, cdb.length);
        return Good(cdb.length);
    case Kind::ReadBack:
        CopyBytes(request.data, staging_ + cdb.flashOffset, cdb.length);
        return Good(cdb.length);
    case Kind::WriteChunk:
        CopyBytes(staging_ + cdb.flashOffset, request.data, cdb.length);
        received_ = true;
        return Good(cdb.length);
    case Kind::Commit:
        return Commit();
    case Kind::Standard:
        return PerformStandard(request, cdb);
    case Kind::Any:
    case Kind::Other:
        break;
    }
    return Check(SenseIllegalRequest, AscInvalidOpcode, 0);
}

EmulatedDrive::Outcome EmulatedDrive::Commit() {
    // The image is kept first: a commit that cannot be kept has not happened.
    if (keepImage_ != nullptr && !keepImage_(keepContext_, staging_, FlashSize())) {
        return Check(SenseMediumError, AscWriteError, 0x00);
    }
    CopyBytes(flash_, staging_, FlashSize());
    received_ = false;
    ++commitCount_;
    return Good(0);
}

EmulatedDrive::Outcome EmulatedDrive::PerformStandard(const Request& request, const Cdb& cdb) {
    const bool needsDisc = cdb.opcode == OpTestUnitReady || cdb.opcode == OpReadCapacity10 || cdb.opcode == OpRead10;
    if (needsDisc && !MediumLoaded()) {
        return Check(SenseNotReady, AscMediumNotPresent, 0x00);
    }
    switch (cdb.opcode) {
    case OpTestUnitReady:
        return Good(0);
    case OpReadCapacity10:
        return ReadCapacity(request);
    case OpRead10:
        return ReadBlocks(request, cdb);
    case OpStartStopUnit:
        StartStop(cdb.mode);
        return Good(0);
    default:
        break;
    }
    uint8_t data[MaxStandardAnswer];
    const uint32_t size = FillStandard(request.cdb, data);
    const uint32_t n = request.direction == Direction::In ? Min(Min(size, request.dataLength), cdb.length) : 0;
    CopyBytes(request.data, data, n);
    return Good(n);
}

EmulatedDrive::Outcome EmulatedDrive::ReadCapacity(const Request& request) const {
    uint8_t data[CapacityLength];
    PutBe32(data, medium_.blocks - 1);
    PutBe32(data + 4, BlockLength);
    const uint32_t n = request.direction == Direction::In ? Min(CapacityLength, request.dataLength) : 0;
    CopyBytes(request.data, data, n);
    return Good(n);
}

EmulatedDrive::Outcome EmulatedDrive::ReadBlocks(const Request& request, const Cdb& cdb) const {
    // A range that ends at the disc's end is inside it, an empty one included.
    if (static_cast<uint64_t>(cdb.bufferOffset) + cdb.length > medium_.blocks) {
        return Check(SenseIllegalRequest, AscOutOfRange, 0x00);
    }
    if (cdb.length == 0) {
        return Good(0);
    }
    if (!medium_.read(medium_.context, cdb.bufferOffset, cdb.length, request.data)) {
        return Check(SenseMediumError, AscUnrecoveredReadError, 0x00);
    }
    return Good(cdb.length * BlockLength);
}

void EmulatedDrive::StartStop(uint8_t flags) {
    const bool powerConditionGiven = (flags & 0xF0) != 0;  // then Start and LoEj are not looked at
    const bool loadEject = (flags & 0x02) != 0;
    if (powerConditionGiven || !loadEject) {
        return;
    }
    mediumLoaded_ = (flags & 0x01) != 0;
}

bool EmulatedDrive::OffersPage(uint8_t page) const {
    return page == 0x00 || page == 0x83 || (page == 0x80 && config_.HasSerial());
}

uint32_t EmulatedDrive::FillStandard(const uint8_t* c, uint8_t* out) const {
    ZeroBytes(out, MaxStandardAnswer);
    switch (c[0]) {
    case OpRequestSense:
        out[0] = 0x70;  // current, fixed format, NO SENSE
        out[7] = SenseLength - 8;
        return SenseLength;
    case OpModeSense6:
        out[0] = 3;  // mode data length: the rest of the header, no block descriptor, no page
        return 4;
    case OpModeSense10:
        PutBe16(out, 6);
        return 8;
    case OpInquiry:
        break;
    default:
        return 0;
    }
    out[0] = config_.deviceType;
    out[1] = c[2];
    uint32_t n = 4;
    if (c[2] == 0x00) {
        out[n++] = 0x00;
        if (config_.HasSerial()) out[n++] = 0x80;
        out[n++] = 0x83;
    } else if (c[2] == 0x80) {
        CopyBytes(out + n, reinterpret_cast<const uint8_t*>(config_.serial), sizeof config_.serial);
        n += sizeof config_.serial;
    } else {
        // One T10 vendor identification designator: vendor, product and serial in ASCII.
        const uint32_t idLength = 8 + 16 + (config_.HasSerial() ? 16 : 0);
        out[n++] = 0x02;  // code set ASCII
        out[n++] = 0x01;  // logical unit, T10 vendor identification
        out[n++] = 0x00;
        out[n++] = static_cast<uint8_t>(idLength);
        CopyBytes(out + n, reinterpret_cast<const uint8_t*>(config_.vendor), 8);
        CopyBytes(out + n + 8, reinterpret_cast<const uint8_t*>(config_.product), 16);
        if (config_.HasSerial()) {
            CopyBytes(out + n + 24, reinterpret_cast<const uint8_t*>(config_.serial), 16);
        }
        n += idLength;
    }
    PutBe16(out + 2, n - 4);
    return n;
}

void EmulatedDrive::FillInquiry(uint8_t* out) const {
    ZeroBytes(out, InquiryLength);
    out[0] = config_.deviceType;
    out[1] = 0x80;  // removable medium
    out[2] = 0x00;  // no claimed standard version, as ATAPI drives answer
    out[3] = 0x02;  // response data format 2
    out[4] = InquiryLength - 5;
    CopyBytes(out + 8, reinterpret_cast<const uint8_t*>(config_.vendor), 8);
    CopyBytes(out + 16, reinterpret_cast<const uint8_t*>(config_.product), 16);
    CopyBytes(out + 32, reinterpret_cast<const uint8_t*>(config_.revision), 4);
}

void EmulatedDrive::FillIdentity(uint8_t* out) const {
    ZeroBytes(out, IdentityLength);
    uint16_t major = config_.versionMajor;
    uint16_t minor = config_.versionMinor;
    const uint32_t at = config_.versionOffset;
    if (at != DriveConfig::NoVersionOffset && static_cast<uint64_t>(at) + 4 <= FlashSize()) {
        major = GetLe16(flash_ + at);
        minor = GetLe16(flash_ + at + 2);
    }
    PutLe16(out + 0, config_.makerWord);
    PutLe16(out + 2, config_.controllerId);
    PutLe16(out + 6, major);
    PutLe16(out + 8, minor);
    PutLe16(out + 10, config_.sizeWordKiB);
}

void EmulatedDrive::Record(const Request& request, const Cdb& cdb, const Outcome& outcome) {
    LogEntry& e = last_;
    e.opcode = cdb.opcode;
    e.mode = cdb.mode;
    e.bufferId = cdb.bufferId;
    e.control = cdb.control;
    e.bufferOffset = cdb.bufferOffset;
    e.length = cdb.length;
    e.direction = request.direction;
    e.status = outcome.status;
    e.senseKey = outcome.senseKey;
    e.asc = outcome.asc;
    e.ascq = outcome.ascq;
    e.hostDataLength = request.dataLength;
    // commandCount_ already includes this command.
    if (commandCount_ <= LogCapacity) {
        log_[commandCount_ - 1] = e;
    }
}

}  // namespace emulator
