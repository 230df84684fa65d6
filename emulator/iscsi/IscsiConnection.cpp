#include "emulator/iscsi/IscsiConnection.h"

namespace emulator {

namespace {

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
    // A command waiting for the drive's latency is still in progress, as on a real drive.
    for (const Answer& a : answers_) {
        if (a.task.counted) ++busy;
    }
    const uint32_t free = busy < CommandWindow ? CommandWindow - busy : 0;
    // free == 0 gives ExpCmdSN - 1: the window is closed.
    return expCmdSn_ + free - 1;
}

bool IscsiConnection::InWindow(uint32_t cmdSn) const {
    return !Pdu::SerialLess(cmdSn, expCmdSn_) && !Pdu::SerialLess(MaxCmdSn(), cmdSn);
}

void IscsiConnection::Receive(const uint8_t* bytes, size_t length) {
    if (phase_ == Phase::Closing) return;
    reader_.Feed(bytes, length);
    ProcessBuffered();
}

void IscsiConnection::Resume() {
    if (phase_ != Phase::Closing) ProcessBuffered();
}

void IscsiConnection::ProcessBuffered() {
    // Looked at before every PDU, not once per read: one read can bring a thousand commands.
    while (phase_ != Phase::Closing && !Saturated()) {
        Pdu pdu;
        const PduReader::Result r = reader_.Next(pdu);
        switch (r) {
        case PduReader::Result::NeedMore:
            return;
        case PduReader::Result::Complete:
            Process(pdu);
            break;
        case PduReader::Result::HeaderDigestError:
            ForceClose("header digest error");
            return;
        case PduReader::Result::DataDigestError:
            DamagedData(pdu);
            break;
        case PduReader::Result::TooLong:
            if (phase_ == Phase::Login) {
                LoginFail(pdu, LoginInitiatorError, 0x00, "login data segment too long");
            } else {
                Reject(pdu, RejectProtocolError, "data segment above MaxRecvDataSegmentLength");
                ForceClose("data segment above MaxRecvDataSegmentLength");
            }
            return;
        }
    }
}

void IscsiConnection::Process(const Pdu& pdu) {
    if (phase_ == Phase::Login) {
        if (pdu.Opcode() != Pdu::LoginRequest) {
            NotALogin(pdu);
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
        for (const Pdu& waiting : waiting_) {
            if (waiting.CmdSn() == sn) return;  // a duplicate of one already waiting
        }
        targets_.Log().Line("c%u %s CmdSN %u waits for %u", number_, OpcodeName(pdu.Opcode()), sn, expCmdSn_);
        waiting_.push_back(pdu);
        return;
    }
    ++expCmdSn_;
    Execute(pdu);
    RunWaiting();
}

void IscsiConnection::RunWaiting() {
    bool found = true;
    while (found && phase_ == Phase::FullFeature) {
        found = false;
        for (size_t i = 0; i < waiting_.size(); ++i) {
            if (waiting_[i].CmdSn() == expCmdSn_) {
                const Pdu pdu = waiting_[i];
                waiting_.erase(waiting_.begin() + static_cast<std::ptrdiff_t>(i));
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

void IscsiConnection::Logout(const Pdu& pdu) {
    const uint8_t reason = pdu.Flags() & 0x7F;
    if (reason > 2) {
        // 0 closes the session, 1 the connection, 2 removes it for recovery; the rest is reserved.
        Reject(pdu, RejectInvalidField, "reserved logout reason");
        return;
    }
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
        AbortTasks("logout");
        loggedOut_ = true;
        phase_ = Phase::Closing;
    }
}

void IscsiConnection::AbortTasks(const char* why) {
    tasks_.clear();
    DropAnswers(why);
    while (!held_.empty()) EndHold(held_.size() - 1, why);
}

void IscsiConnection::ForceClose(const char* why) {
    if (phase_ == Phase::Closing) return;
    targets_.Log().Line("c%u closed: %s", number_, why);
    AbortTasks("connection closed");
    phase_ = Phase::Closing;
}

void IscsiConnection::Sever() {
    // A link that breaks takes with it what was not sent yet.
    AbortTasks("connection dropped");
    output_.clear();
    phase_ = Phase::Closing;
    severed_ = true;
}

void IscsiConnection::Dropped(const char* why) {
    if (!loggedOut_ && phase_ != Phase::Closing) targets_.Log().Line("c%u dropped: %s", number_, why);
    AbortTasks("connection ended");
    phase_ = Phase::Closing;
}

}  // namespace emulator
