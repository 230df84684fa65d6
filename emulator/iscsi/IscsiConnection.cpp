#include "emulator/iscsi/IscsiConnection.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <memory>

#include "emulator/iscsi/CdbShape.h"
#include "emulator/iscsi/TextKeys.h"

namespace emulator {

namespace {

constexpr uint8_t StageSecurity = 0;
constexpr uint8_t StageOperational = 1;
constexpr uint8_t StageFullFeature = 3;

constexpr uint8_t LoginInitiatorError = 0x02;
constexpr uint8_t LoginTargetError = 0x03;

constexpr uint8_t OpReportLuns = 0xA0;

// Serial number arithmetic of RFC 1982 on 32 bits.
bool SerialLess(uint32_t a, uint32_t b) { return a != b && static_cast<int32_t>(a - b) < 0; }

void HexBytes(const uint8_t* bytes, size_t n, char* out, size_t room) {
    size_t at = 0;
    for (size_t i = 0; i < n && at + 3 <= room; ++i) at += static_cast<size_t>(snprintf(out + at, room - at, "%02x", bytes[i]));
    if (room != 0 && at < room) out[at] = '\0';
}

const char* OpcodeName(uint8_t opcode) {
    switch (opcode) {
    case Pdu::NopOut: return "NOP-Out";
    case Pdu::ScsiCommand: return "SCSI Command";
    case Pdu::TaskManagement: return "Task Management";
    case Pdu::LoginRequest: return "Login";
    case Pdu::TextRequest: return "Text";
    case Pdu::DataOut: return "Data-Out";
    case Pdu::LogoutRequest: return "Logout";
    case Pdu::Snack: return "SNACK";
    default: return "unknown";
    }
}

}  // namespace

IscsiConnection::IscsiConnection(IscsiTargetSet& targets, uint32_t number, const std::string& portal)
    : targets_(targets), number_(number), portal_(portal) {
    // Login PDUs carry at most 8192 bytes of data whatever is negotiated later.
    reader_.SetMaxDataSegment(8192);
    targets_.Attach(this);
}

IscsiConnection::~IscsiConnection() { targets_.Detach(this); }

uint32_t IscsiConnection::MaxCmdSn() const {
    uint32_t busy = 0;
    for (const Task& t : tasks_) {
        if (t.counted) ++busy;
    }
    const uint32_t free = busy < CommandWindow ? CommandWindow - busy : 0;
    // free == 0 gives ExpCmdSN - 1: the window is closed.
    return expCmdSn_ + free - 1;
}

bool IscsiConnection::InWindow(uint32_t cmdSn) const {
    return !SerialLess(cmdSn, expCmdSn_) && !SerialLess(MaxCmdSn(), cmdSn);
}

void IscsiConnection::Receive(const uint8_t* bytes, size_t length) {
    if (phase_ == Phase::Closing) return;
    reader_.Feed(bytes, length);
    while (phase_ != Phase::Closing) {
        Pdu pdu;
        const PduReader::Result r = reader_.Next(pdu);
        if (r == PduReader::Result::NeedMore) return;
        switch (r) {
        case PduReader::Result::Complete:
            Process(pdu);
            break;
        case PduReader::Result::HeaderDigestError:
            ForceClose("header digest error");
            return;
        case PduReader::Result::DataDigestError:
            Reject(pdu, RejectDataDigest, "data digest error");
            break;
        case PduReader::Result::TooLong:
            if (phase_ == Phase::Login) {
                LoginFail(pdu, LoginInitiatorError, 0x00, "login data segment too long");
            } else {
                Reject(pdu, RejectProtocolError, "data segment above MaxRecvDataSegmentLength");
                ForceClose("data segment above MaxRecvDataSegmentLength");
            }
            return;
        case PduReader::Result::NeedMore:
            return;
        }
    }
}

void IscsiConnection::Process(const Pdu& pdu) {
    if (phase_ == Phase::Login) {
        if (pdu.Opcode() != Pdu::LoginRequest) {
            ForceClose("a PDU other than Login before the login completed");
            return;
        }
        Login(pdu);
        return;
    }
    switch (pdu.Opcode()) {
    case Pdu::DataOut:
        DataOut(pdu);
        return;
    case Pdu::NopOut:
    case Pdu::ScsiCommand:
    case Pdu::TaskManagement:
    case Pdu::TextRequest:
    case Pdu::LogoutRequest:
        Ordered(pdu);
        return;
    case Pdu::LoginRequest:
        Reject(pdu, RejectProtocolError, "Login in the full feature phase");
        return;
    case Pdu::Snack:
        Reject(pdu, RejectSnack, "SNACK at error recovery level 0");
        return;
    default:
        Reject(pdu, RejectNotSupported, "unknown opcode");
        return;
    }
}

// --- login -------------------------------------------------------------------------------

void IscsiConnection::LoginFail(const Pdu& request, uint8_t statusClass, uint8_t detail, const char* why) {
    Pdu r = Pdu::Make(Pdu::LoginResponse, 0);
    memcpy(r.header + 8, request.header + 8, 8);  // ISID and TSIH as sent
    r.Put32(16, request.InitiatorTaskTag());
    r.header[36] = statusClass;
    r.header[37] = detail;
    Stamp(r, true);
    Send(r);
    targets_.Log().Line("c%u login refused %02x%02x: %s", number_, statusClass, detail, why);
    phase_ = Phase::Closing;
}

bool IscsiConnection::LoginKeys(const std::vector<uint8_t>& text, uint8_t stage, std::vector<uint8_t>& answer,
                                uint8_t& statusClass, uint8_t& detail, std::string& why) {
    TextKeys::Pairs pairs;
    statusClass = LoginInitiatorError;
    detail = 0x00;
    if (!TextKeys::Parse(text, pairs)) {
        why = "malformed key=value text";
        return false;
    }
    for (const auto& pair : pairs) {
        const std::string& key = pair.first;
        const std::string& value = pair.second;
        if (key == "InitiatorName") {
            initiatorName_ = value;
        } else if (key == "InitiatorAlias") {
        } else if (key == "SessionType") {
            if (value != "Normal" && value != "Discovery") {
                why = "SessionType=" + value;
                return false;
            }
            discovery_ = value == "Discovery";
            sessionTypeSeen_ = true;
        } else if (key == "TargetName") {
            targetName_ = value;
            targetNameSeen_ = true;
        } else if (key == "AuthMethod") {
            bool none = false;
            size_t start = 0;
            while (start <= value.size()) {
                size_t comma = value.find(',', start);
                if (comma == std::string::npos) comma = value.size();
                if (value.compare(start, comma - start, "None") == 0) none = true;
                start = comma + 1;
            }
            if (!none) {
                detail = 0x01;  // authentication failure: this target authenticates nobody
                why = "AuthMethod=" + value + " without None";
                return false;
            }
            TextKeys::Append(answer, key, "None");
        } else if (key.compare(0, 5, "CHAP_") == 0) {
            detail = 0x01;
            why = "CHAP offered";
            return false;
        } else {
            std::string reply;
            switch (params_.Negotiate(key, value, reply)) {
            case SessionParameters::Outcome::Answer:
                TextKeys::Append(answer, key, reply);
                break;
            case SessionParameters::Outcome::Declared:
                break;
            case SessionParameters::Outcome::Refused:
                why = key + "=" + value;
                return false;
            case SessionParameters::Outcome::NotHandled:
                TextKeys::Append(answer, key, "NotUnderstood");
                break;
            }
        }
    }
    if (stage == StageOperational && !mrdslDeclared_) {
        TextKeys::Append(answer, "MaxRecvDataSegmentLength", std::to_string(SessionParameters::TargetMaxRecvDataSegment));
        mrdslDeclared_ = true;
    }
    return true;
}

void IscsiConnection::Login(const Pdu& req) {
    const uint8_t flags = req.Flags();
    const bool transit = (flags & 0x80) != 0;
    const bool more = (flags & 0x40) != 0;
    const uint8_t csg = (flags >> 2) & 0x03;
    const uint8_t nsg = flags & 0x03;
    const bool first = loginPdus_++ == 0;

    if (first) {
        memcpy(isid_, req.header + 8, 6);
        cid_ = req.Get16(20);
        expCmdSn_ = req.CmdSn();
        statSn_ = req.Get32(28);
        if (csg != StageSecurity && csg != StageOperational) {
            LoginFail(req, LoginInitiatorError, 0x00, "first login PDU not in the security or operational stage");
            return;
        }
        stage_ = csg;
        if (req.Get16(14) != 0) {
            // A connection added to an existing session: one connection per session here.
            LoginFail(req, LoginInitiatorError, 0x0A, "TSIH of an existing session");
            return;
        }
    }
    if (req.header[3] > 0x00) {  // Version-min: only version 0 exists
        LoginFail(req, LoginInitiatorError, 0x05, "unsupported version");
        return;
    }
    if (csg != stage_ || memcmp(isid_, req.header + 8, 6) != 0) {
        LoginFail(req, LoginInitiatorError, 0x00, "login PDU out of order");
        return;
    }
    if ((transit && more) || (transit && (nsg <= csg || nsg == 2))) {
        LoginFail(req, LoginInitiatorError, 0x00, "invalid stage transition");
        return;
    }
    if (loginText_.size() + req.data.size() > MaxLoginText) {
        LoginFail(req, LoginInitiatorError, 0x00, "login text too long");
        return;
    }
    loginText_.insert(loginText_.end(), req.data.begin(), req.data.end());

    Pdu r = Pdu::Make(Pdu::LoginResponse, 0);
    memcpy(r.header + 8, isid_, 6);
    r.Put32(16, req.InitiatorTaskTag());
    if (more) {
        // The rest of the text follows; answer it once it is whole.
        r.header[1] = static_cast<uint8_t>(csg << 2);
        Stamp(r, true);
        Send(r);
        return;
    }

    uint8_t statusClass = 0;
    uint8_t detail = 0;
    std::string why;
    std::vector<uint8_t> answer;
    const bool ok = LoginKeys(loginText_, csg, answer, statusClass, detail, why);
    loginText_.clear();
    if (!ok) {
        LoginFail(req, statusClass, detail, why.c_str());
        return;
    }
    if (!namesChecked_) {
        namesChecked_ = true;
        if (initiatorName_.empty()) {
            LoginFail(req, LoginInitiatorError, 0x07, "no InitiatorName");
            return;
        }
        if (!discovery_) {
            if (!targetNameSeen_) {
                LoginFail(req, LoginInitiatorError, 0x07, "no TargetName");
                return;
            }
            target_ = targets_.Find(targetName_);
            if (target_ == nullptr) {
                LoginFail(req, LoginInitiatorError, 0x03, ("no target " + targetName_).c_str());
                return;
            }
            TextKeys::Append(answer, "TargetPortalGroupTag", "1");
        }
    }
    if (answer.size() > 8192) {
        LoginFail(req, LoginTargetError, 0x00, "login answer too long");
        return;
    }
    if (transit && nsg == StageFullFeature) tsih_ = targets_.NewTsih();
    r.header[1] = static_cast<uint8_t>((transit ? 0x80 : 0) | (csg << 2) | (transit ? nsg : 0));
    r.Put16(14, tsih_);
    r.data = answer;
    Stamp(r, true);
    Send(r);
    if (transit) {
        stage_ = nsg;
        if (stage_ == StageFullFeature) EnterFullFeature();
    }
}

void IscsiConnection::EnterFullFeature() {
    phase_ = Phase::FullFeature;
    // Digests start with the first PDU after the last Login Response, in both directions.
    reader_.SetDigests(params_.headerDigest, params_.dataDigest);
    reader_.SetMaxDataSegment(SessionParameters::TargetMaxRecvDataSegment);
    char isid[16];
    HexBytes(isid_, 6, isid, sizeof isid);
    targets_.Log().Line("c%u login %s initiator=%s isid=%s tsih=%u target=%s: %s", number_,
                        discovery_ ? "discovery" : "normal", initiatorName_.c_str(), isid, tsih_,
                        target_ != nullptr ? target_->Name.c_str() : "-", params_.Describe().c_str());
    // Session reinstatement: the same initiator and ISID logging in again ends the old session.
    if (!discovery_) {
        const std::vector<IscsiConnection*> others = targets_.Connections();
        for (IscsiConnection* other : others) {
            if (other != this && other->InFullFeature() && other->target_ == target_ &&
                other->initiatorName_ == initiatorName_ && memcmp(other->isid_, isid_, 6) == 0) {
                other->ForceClose("session reinstated");
            }
        }
    }
}

// --- ordering ----------------------------------------------------------------------------

void IscsiConnection::Ordered(const Pdu& pdu) {
    if (pdu.Immediate()) {
        Execute(pdu);
        return;
    }
    const uint32_t sn = pdu.CmdSn();
    if (!InWindow(sn)) {
        targets_.Log().Line("c%u %s CmdSN %u outside %u..%u: dropped", number_, OpcodeName(pdu.Opcode()), sn,
                            expCmdSn_, MaxCmdSn());
        return;
    }
    if (sn != expCmdSn_) {
        for (const Pdu& held : held_) {
            if (held.CmdSn() == sn) return;  // a duplicate of one already waiting
        }
        targets_.Log().Line("c%u %s CmdSN %u waits for %u", number_, OpcodeName(pdu.Opcode()), sn, expCmdSn_);
        held_.push_back(pdu);
        return;
    }
    ++expCmdSn_;
    Execute(pdu);
    RunHeld();
}

void IscsiConnection::RunHeld() {
    bool found = true;
    while (found && phase_ == Phase::FullFeature) {
        found = false;
        for (size_t i = 0; i < held_.size(); ++i) {
            if (held_[i].CmdSn() == expCmdSn_) {
                const Pdu pdu = held_[i];
                held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
                ++expCmdSn_;
                Execute(pdu);
                found = true;
                break;
            }
        }
    }
}

void IscsiConnection::Execute(const Pdu& pdu) {
    if (discovery_ && pdu.Opcode() != Pdu::TextRequest && pdu.Opcode() != Pdu::LogoutRequest &&
        pdu.Opcode() != Pdu::NopOut) {
        Reject(pdu, RejectProtocolError, "not allowed in a discovery session");
        return;
    }
    switch (pdu.Opcode()) {
    case Pdu::NopOut:
        NopOut(pdu);
        break;
    case Pdu::ScsiCommand:
        Command(pdu);
        break;
    case Pdu::TaskManagement:
        TaskManagement(pdu);
        break;
    case Pdu::TextRequest:
        Text(pdu);
        break;
    case Pdu::LogoutRequest:
        Logout(pdu);
        break;
    default:
        break;
    }
}

// --- the PDUs of the full feature phase --------------------------------------------------

void IscsiConnection::NopOut(const Pdu& pdu) {
    // A NOP-Out without a task tag answers a NOP-In of ours or wants no answer.
    if (pdu.InitiatorTaskTag() == Pdu::NoTag) return;
    Pdu r = Pdu::Make(Pdu::NopIn, Pdu::FinalFlag);
    memcpy(r.header + 8, pdu.header + 8, 8);
    r.Put32(16, pdu.InitiatorTaskTag());
    r.Put32(20, Pdu::NoTag);
    const size_t echo = std::min<size_t>(pdu.data.size(), params_.initiatorMaxRecvDataSegment);
    r.data.assign(pdu.data.begin(), pdu.data.begin() + static_cast<std::ptrdiff_t>(echo));
    Stamp(r, true);
    Send(r);
}

IscsiConnection::Task* IscsiConnection::FindTask(uint32_t itt) {
    for (Task& t : tasks_) {
        if (t.itt == itt) return &t;
    }
    return nullptr;
}

void IscsiConnection::RemoveTask(uint32_t itt) {
    tasks_.erase(std::remove_if(tasks_.begin(), tasks_.end(), [itt](const Task& t) { return t.itt == itt; }),
                 tasks_.end());
}

void IscsiConnection::Command(const Pdu& pdu) {
    const uint8_t flags = pdu.Flags();
    Task t;
    t.itt = pdu.InitiatorTaskTag();
    t.counted = !pdu.Immediate();
    t.read = (flags & 0x40) != 0;
    t.write = (flags & 0x20) != 0;
    t.expected = pdu.Get32(20);
    memcpy(t.cdb, pdu.header + 32, 16);
    t.cdbLength = CdbShape::Length(t.cdb[0]);
    for (int i = 8; i < 16; ++i) {
        if (pdu.header[i] != 0) t.lunZero = false;
    }
    const uint32_t immediate = static_cast<uint32_t>(pdu.data.size());
    const uint32_t firstBurst = std::min(params_.firstBurst, params_.maxBurst);

    if (t.itt == Pdu::NoTag) {
        Reject(pdu, RejectInvalidField, "SCSI Command without a task tag");
        return;
    }
    if (FindTask(t.itt) != nullptr) {
        Reject(pdu, RejectTaskInProgress, "task tag already in use");
        return;
    }
    if (t.read && t.write) {
        Reject(pdu, RejectNotSupported, "bidirectional command");
        return;
    }
    if (immediate != 0 && (!t.write || !params_.immediateData || immediate > t.expected || immediate > firstBurst)) {
        Reject(pdu, RejectProtocolError, "immediate data not allowed or longer than the command's");
        return;
    }
    if (!t.write) {
        Complete(t);
        return;
    }
    if (tasks_.size() >= MaxTasks) {
        Reject(pdu, RejectImmediate, "too many tasks waiting for data");
        return;
    }
    t.store = t.expected <= MaxTransfer;
    if (t.store) t.data.assign(pdu.data.begin(), pdu.data.end());
    t.received = immediate;
    const bool final = (flags & 0x80) != 0;
    t.unsolicitedEnd = std::min(firstBurst, t.expected);
    t.unsolicited = !params_.initialR2T && !final && t.received < t.unsolicitedEnd;
    if (t.received == t.expected) {
        Complete(t);
        return;
    }
    tasks_.push_back(t);
    Advance(t.itt);
}

void IscsiConnection::Advance(uint32_t itt) {
    Task* t = FindTask(itt);
    if (t == nullptr || t->unsolicited || t->r2tOpen) return;
    if (t->received >= t->expected || !t->store) {
        // All data in, or more than the drive could take: answer now, without asking for the rest.
        const Task done = *t;
        RemoveTask(itt);
        Complete(done);
        return;
    }
    const uint32_t length = std::min(t->expected - t->received, params_.maxBurst);
    t->r2tOpen = true;
    t->ttt = nextTtt_++;
    if (nextTtt_ == Pdu::NoTag) nextTtt_ = 1;
    t->r2tEnd = t->received + length;
    t->expectedDataSn = 0;
    Pdu r = Pdu::Make(Pdu::ReadyToTransfer, Pdu::FinalFlag);
    r.Put32(16, t->itt);
    r.Put32(20, t->ttt);
    r.Put32(36, t->r2tSn++);
    r.Put32(40, t->received);
    r.Put32(44, length);
    Stamp(r, false);
    Send(r);
}

void IscsiConnection::DataOut(const Pdu& pdu) {
    const uint32_t itt = pdu.InitiatorTaskTag();
    Task* t = FindTask(itt);
    if (t == nullptr) {
        // Data of a task that was aborted or answered early: nothing to do with it.
        return;
    }
    const uint32_t ttt = pdu.Get32(20);
    const uint32_t offset = pdu.Get32(40);
    const uint32_t length = static_cast<uint32_t>(pdu.data.size());
    const bool final = (pdu.Flags() & 0x80) != 0;
    const uint64_t end = static_cast<uint64_t>(offset) + length;
    bool ok;
    if (ttt == Pdu::NoTag) {
        ok = t->unsolicited && offset == t->received && end <= t->unsolicitedEnd;
    } else {
        ok = t->r2tOpen && ttt == t->ttt && offset == t->received && end <= t->r2tEnd &&
             pdu.Get32(36) == t->expectedDataSn;
    }
    if (!ok) {
        RemoveTask(itt);
        Reject(pdu, RejectProtocolError, "Data-Out out of sequence; its task is dropped");
        return;
    }
    if (t->store) t->data.insert(t->data.end(), pdu.data.begin(), pdu.data.end());
    t->received += length;
    if (ttt == Pdu::NoTag) {
        if (final || t->received == t->unsolicitedEnd) t->unsolicited = false;
    } else {
        ++t->expectedDataSn;
        if (t->received == t->r2tEnd) t->r2tOpen = false;
    }
    Advance(itt);
}

void IscsiConnection::ReportLuns(const Task& task, std::vector<uint8_t>& data, EmulatedDrive::Result& result) const {
    // Answered by the target itself, as every target does: one logical unit, LUN 0.
    uint32_t allocation = 0;
    CdbShape::TransferLength(task.cdb, allocation);
    const uint8_t list[16] = {0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const uint32_t n = std::min<uint32_t>(allocation, sizeof list);
    data.assign(list, list + n);
    result.status = EmulatedDrive::StatusGood;
    result.transferred = n;
}

void IscsiConnection::Complete(Task task) {
    // Read data lands in a buffer that is not cleared first: only what the drive wrote is sent,
    // and a large allocation length then costs no more than the bytes really moved.
    std::unique_ptr<uint8_t[]> in;
    std::vector<uint8_t> luns;
    const uint8_t* data = nullptr;
    EmulatedDrive::Result result;
    uint8_t sense[EmulatedDrive::SenseLength] = {};
    uint32_t cdbTransfer = 0;
    const bool known = CdbShape::TransferLength(task.cdb, cdbTransfer);

    auto check = [&](uint8_t key, uint8_t asc) {
        result.status = EmulatedDrive::StatusCheckCondition;
        result.senseKey = key;
        result.asc = asc;
        sense[0] = 0x70;
        sense[2] = key;
        sense[7] = EmulatedDrive::SenseLength - 8;
        sense[12] = asc;
        result.senseWritten = EmulatedDrive::SenseLength;
    };

    if (!task.lunZero) {
        check(EmulatedDrive::SenseIllegalRequest, 0x25);  // logical unit not supported
    } else if (task.cdb[0] == OpReportLuns) {
        ReportLuns(task, luns, result);
        data = luns.data();
    } else if (task.write && !task.store) {
        check(EmulatedDrive::SenseIllegalRequest, EmulatedDrive::AscInvalidField);
    } else {
        EmulatedDrive::Request request;
        request.cdb = task.cdb;
        request.cdbLength = task.cdbLength;
        if (task.write && task.expected != 0) {
            request.direction = EmulatedDrive::Direction::Out;
            request.data = task.data.data();
            request.dataLength = known ? std::min(cdbTransfer, task.expected) : task.expected;
        } else if (task.read) {
            request.direction = EmulatedDrive::Direction::In;
            // The drive answers as much as the CDB asks for; what exceeds the initiator's
            // buffer is cut off below and reported as overflow.
            const uint32_t length = known ? std::min(cdbTransfer, MaxTransfer) : std::min(task.expected, MaxUnknownTransfer);
            if (length != 0) in.reset(new uint8_t[length]);
            request.data = in.get();
            request.dataLength = length;
            data = in.get();
        }
        request.sense = sense;
        request.senseLength = sizeof sense;
        result = target_->Drive->Execute(request);
        targets_.CommandDone(*target_);
    }
    Respond(task, data, task.read ? result.transferred : 0, result, sense);
}

void IscsiConnection::Respond(const Task& task, const uint8_t* data, uint32_t available,
                              const EmulatedDrive::Result& result, const uint8_t* sense) {
    const bool good = result.status == EmulatedDrive::StatusGood;
    uint32_t sent = 0;
    uint8_t residualFlag = 0;
    uint32_t residual = 0;
    uint32_t dataSn = task.r2tSn;
    if (task.read) {
        sent = std::min(available, task.expected);
        if (available > task.expected) {
            residualFlag = 0x04;  // overflow
            residual = available - task.expected;
        }
    } else if (task.write) {
        sent = 0;
        // Out data the drive did not take.
        const uint32_t used = result.transferred;
        if (used < task.expected) {
            residualFlag = 0x02;
            residual = task.expected - used;
        }
    }
    if (task.read && sent < task.expected) {
        residualFlag = 0x02;  // underflow
        residual = task.expected - sent;
    }

    char cdb[40];
    HexBytes(task.cdb, task.cdbLength, cdb, sizeof cdb);
    targets_.Log().Line("c%u command itt=0x%08x cdb=%s %s edtl=%u status=%u sense=%02x/%02x/%02x moved=%u residual=%s%u",
                        number_, task.itt, cdb, task.read ? "in" : task.write ? "out" : "none", task.expected,
                        result.status, result.senseKey, result.asc, result.ascq, task.read ? sent : result.transferred,
                        residualFlag == 0x04 ? "overflow " : residualFlag == 0x02 ? "underflow " : "", residual);

    // Data-In, cut to the initiator's segment limit; bursts end at MaxBurstLength.
    uint32_t offset = 0;
    uint32_t burst = 0;
    while (offset < sent) {
        const uint32_t n = std::min(sent - offset, params_.initiatorMaxRecvDataSegment);
        const bool last = offset + n == sent;
        burst += n;
        const bool burstEnd = last || burst >= params_.maxBurst;
        if (burstEnd) burst = 0;
        const bool withStatus = last && good;
        Pdu d = Pdu::Make(Pdu::DataIn, static_cast<uint8_t>((burstEnd ? 0x80 : 0) | (withStatus ? 0x01 | residualFlag : 0)));
        d.Put32(16, task.itt);
        d.Put32(20, Pdu::NoTag);
        d.Put32(36, dataSn++);
        d.Put32(40, offset);
        if (withStatus) {
            d.header[3] = result.status;
            d.Put32(44, residual);
        }
        d.data.assign(data + offset, data + offset + n);
        Stamp(d, withStatus);
        if (!withStatus) d.Put32(24, 0);
        Send(d);
        offset += n;
    }
    if (sent != 0 && good) return;

    Pdu r = Pdu::Make(Pdu::ScsiResponse, static_cast<uint8_t>(0x80 | residualFlag));
    r.header[2] = 0x00;  // command completed at target
    r.header[3] = result.status;
    r.Put32(16, task.itt);
    r.Put32(36, dataSn);
    r.Put32(44, residual);
    if (!good && result.senseWritten != 0) {
        r.data.push_back(static_cast<uint8_t>(result.senseWritten >> 8));
        r.data.push_back(static_cast<uint8_t>(result.senseWritten));
        r.data.insert(r.data.end(), sense, sense + result.senseWritten);
    }
    Stamp(r, true);
    Send(r);
}

void IscsiConnection::TaskManagement(const Pdu& pdu) {
    const uint8_t function = pdu.Flags() & 0x7F;
    const uint32_t referenced = pdu.Get32(20);
    const uint32_t refCmdSn = pdu.Get32(32);
    bool lunZero = true;
    for (int i = 8; i < 16; ++i) {
        if (pdu.header[i] != 0) lunZero = false;
    }
    uint8_t response = 0;  // function complete
    bool cold = false;
    const char* name = "?";
    switch (function) {
    case 1:
        name = "ABORT TASK";
        if (FindTask(referenced) != nullptr) {
            RemoveTask(referenced);
        } else {
            // A command never received but inside the window counts as received and done.
            bool held = false;
            for (size_t i = 0; i < held_.size(); ++i) {
                if (held_[i].InitiatorTaskTag() == referenced) {
                    held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
                    held = true;
                    break;
                }
            }
            if (!held && !(InWindow(refCmdSn) && SerialLess(refCmdSn, pdu.CmdSn()))) response = 1;
        }
        break;
    case 2:
    case 4:
        name = function == 2 ? "ABORT TASK SET" : "CLEAR TASK SET";
        AbortTasks();
        break;
    case 3:
        name = "CLEAR ACA";
        response = 5;  // no ACA here
        break;
    case 5:
    case 6:
    case 7:
        name = function == 5 ? "LUN RESET" : function == 6 ? "TARGET WARM RESET" : "TARGET COLD RESET";
        if (function == 5 && !lunZero) {
            response = 2;
            break;
        }
        for (IscsiConnection* c : targets_.Connections()) {
            if (c->target_ == target_) c->AbortTasks();
        }
        cold = function == 7;
        break;
    case 8:
        name = "TASK REASSIGN";
        response = 4;
        break;
    default:
        name = "unknown function";
        response = 255;
        break;
    }
    Pdu r = Pdu::Make(Pdu::TaskManagementResponse, Pdu::FinalFlag);
    r.header[2] = response;
    r.Put32(16, pdu.InitiatorTaskTag());
    Stamp(r, true);
    Send(r);
    targets_.Log().Line("c%u task management %s itt=0x%08x ref=0x%08x: response %u", number_, name,
                        pdu.InitiatorTaskTag(), referenced, response);
    if (cold) {
        // A cold reset ends every session of the target, this one included, after its answer.
        const std::vector<IscsiConnection*> all = targets_.Connections();
        for (IscsiConnection* c : all) {
            if (c->target_ == target_) c->ForceClose("target cold reset");
        }
    }
}

void IscsiConnection::Text(const Pdu& pdu) {
    TextKeys::Pairs pairs;
    std::vector<uint8_t> answer;
    if (!TextKeys::Parse(pdu.data, pairs)) {
        Reject(pdu, RejectProtocolError, "malformed text");
        return;
    }
    for (const auto& pair : pairs) {
        if (pair.first != "SendTargets") {
            TextKeys::Append(answer, pair.first, "NotUnderstood");
            continue;
        }
        for (const auto& t : targets_.Targets()) {
            const bool wanted = pair.second == "All" ? true
                                : pair.second.empty() ? t.get() == target_
                                                      : t.get() == targets_.Find(pair.second);
            if (!wanted) continue;
            std::vector<uint8_t> entry;
            TextKeys::Append(entry, "TargetName", t->Name);
            TextKeys::Append(entry, "TargetAddress", portal_ + ",1");
            // What does not fit the initiator's limit is left out rather than continued.
            if (answer.size() + entry.size() > params_.initiatorMaxRecvDataSegment) break;
            answer.insert(answer.end(), entry.begin(), entry.end());
        }
    }
    Pdu r = Pdu::Make(Pdu::TextResponse, Pdu::FinalFlag);
    r.Put32(16, pdu.InitiatorTaskTag());
    r.Put32(20, Pdu::NoTag);
    r.data = answer;
    Stamp(r, true);
    Send(r);
}

void IscsiConnection::Logout(const Pdu& pdu) {
    const uint8_t reason = pdu.Flags() & 0x7F;
    uint8_t response = 0;
    if (reason == 1 && pdu.Get16(20) != cid_) response = 1;  // no such connection
    if (reason == 2) response = 2;                            // no connection recovery
    Pdu r = Pdu::Make(Pdu::LogoutResponse, Pdu::FinalFlag);
    r.header[2] = response;
    r.Put32(16, pdu.InitiatorTaskTag());
    Stamp(r, true);
    Send(r);
    targets_.Log().Line("c%u logout reason %u: response %u", number_, reason, response);
    if (response == 0) {
        AbortTasks();
        loggedOut_ = true;
        phase_ = Phase::Closing;
    }
}

// --- sending -----------------------------------------------------------------------------

void IscsiConnection::Reject(const Pdu& pdu, uint8_t reason, const char* why) {
    Pdu r = Pdu::Make(Pdu::Reject, Pdu::FinalFlag);
    r.header[2] = reason;
    r.Put32(16, Pdu::NoTag);
    r.data.assign(pdu.header, pdu.header + Pdu::HeaderLength);
    Stamp(r, true);
    Send(r);
    targets_.Log().Line("c%u reject %s (opcode 0x%02x itt=0x%08x): reason 0x%02x, %s", number_,
                        OpcodeName(pdu.Opcode()), pdu.Opcode(), pdu.InitiatorTaskTag(), reason, why);
}

void IscsiConnection::Stamp(Pdu& pdu, bool advanceStatSn) {
    pdu.Put32(24, statSn_);
    if (advanceStatSn) ++statSn_;
    pdu.Put32(28, expCmdSn_);
    pdu.Put32(32, MaxCmdSn());
}

void IscsiConnection::Send(Pdu& pdu) {
    const bool digests = phase_ == Phase::FullFeature;
    pdu.Encode(digests && params_.headerDigest, digests && params_.dataDigest, output_);
}

// --- ends --------------------------------------------------------------------------------

void IscsiConnection::AbortTasks() { tasks_.clear(); }

void IscsiConnection::ForceClose(const char* why) {
    if (phase_ == Phase::Closing) return;
    targets_.Log().Line("c%u closed: %s", number_, why);
    AbortTasks();
    phase_ = Phase::Closing;
}

void IscsiConnection::Dropped(const char* why) {
    if (!loggedOut_ && phase_ != Phase::Closing) targets_.Log().Line("c%u dropped: %s", number_, why);
    AbortTasks();
    phase_ = Phase::Closing;
}

}  // namespace emulator
