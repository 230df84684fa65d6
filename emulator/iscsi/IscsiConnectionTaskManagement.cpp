// IscsiConnection: task management and NOP.
#include "emulator/iscsi/IscsiConnection.h"

#include <string.h>

#include <algorithm>

namespace emulator {

namespace {

const char* FunctionName(uint8_t function) {
    switch (function) {
    case 1: return "ABORT TASK";
    case 2: return "ABORT TASK SET";
    case 3: return "CLEAR ACA";
    case 4: return "CLEAR TASK SET";
    case 5: return "LUN RESET";
    case 6: return "TARGET WARM RESET";
    case 7: return "TARGET COLD RESET";
    case 8: return "TASK REASSIGN";
    default: return "unknown function";
    }
}

}  // namespace

void IscsiConnection::NopOut(const Pdu& pdu) {
    // A NOP-Out without a task tag answers a NOP-In of ours or wants no answer.
    if (pdu.InitiatorTaskTag() == Pdu::NoTag) {
        if (pingTtt_ != 0 && pdu.Get32(20) == pingTtt_) pingTtt_ = 0;
        return;
    }
    Pdu r = Pdu::Make(Pdu::NopIn, Pdu::FinalFlag);
    memcpy(r.header + 8, pdu.header + 8, 8);
    r.Put32(16, pdu.InitiatorTaskTag());
    r.Put32(20, Pdu::NoTag);
    const size_t echo = std::min<size_t>(pdu.data.size(), params_.initiatorMaxRecvDataSegment);
    r.data.assign(pdu.data.begin(), pdu.data.begin() + static_cast<std::ptrdiff_t>(echo));
    Stamp(r, true);
    Send(r);
}

void IscsiConnection::Ping() {
    if (phase_ != Phase::FullFeature || pingTtt_ != 0) return;
    pingTtt_ = nextTtt_++;
    if (nextTtt_ == Pdu::NoTag) nextTtt_ = 1;
    Pdu r = Pdu::Make(Pdu::NopIn, Pdu::FinalFlag);
    r.Put32(16, Pdu::NoTag);
    r.Put32(20, pingTtt_);
    // Without a task tag the NOP-In does not advance StatSN.
    Stamp(r, false);
    Send(r);
    targets_.Log().Line("c%u NOP-In ttt=0x%08x: the session was silent", number_, pingTtt_);
}

void IscsiConnection::TaskManagement(const Pdu& pdu) {
    const uint8_t function = pdu.Flags() & 0x7F;
    const uint8_t response = ManageTasks(pdu, function);
    Pdu r = Pdu::Make(Pdu::TaskManagementResponse, Pdu::FinalFlag);
    r.header[2] = response;
    r.Put32(16, pdu.InitiatorTaskTag());
    Stamp(r, true);
    Send(r);
    targets_.Log().Line("c%u task management %s itt=0x%08x ref=0x%08x: response %u", number_, FunctionName(function),
                        pdu.InitiatorTaskTag(), pdu.Get32(20), response);
    if (function == 7) {
        // A cold reset ends every session of the target, this one included, after its answer.
        const std::vector<IscsiConnection*> all = targets_.Connections();
        for (IscsiConnection* c : all) {
            if (c->target_ == target_) c->ForceClose("target cold reset");
        }
    }
}

uint8_t IscsiConnection::ManageTasks(const Pdu& pdu, uint8_t function) {
    switch (function) {
    case 1: return AbortTask(pdu);
    case 2:
    case 4: AbortTasks(FunctionName(function)); return 0;  // function complete
    case 3: return 5;                                      // no ACA here
    case 5:
    case 6:
    case 7:
        if (function == 5 && !pdu.LunZero()) return 2;
        for (IscsiConnection* c : targets_.Connections()) {
            if (c->target_ == target_) c->AbortTasks(FunctionName(function));
        }
        return 0;
    case 8: return 4;
    default: return 255;
    }
}

uint8_t IscsiConnection::AbortTask(const Pdu& pdu) {
    const uint32_t referenced = pdu.Get32(20);
    const uint32_t refCmdSn = pdu.Get32(32);
    if (FindTask(referenced) != nullptr) {
        RemoveTask(referenced);
        return 0;
    }
    for (size_t i = 0; i < held_.size(); ++i) {
        if (held_[i].itt == referenced) {
            EndHold(i, "ABORT TASK");
            return 0;
        }
    }
    if (DropAnswer(referenced, "ABORT TASK")) return 0;
    // A command waiting behind a gap in CmdSN is not carried out; its CmdSN stays received.
    for (size_t i = 0; i < waiting_.size(); ++i) {
        if (waiting_[i].InitiatorTaskTag() == referenced && waiting_[i].Opcode() == Pdu::ScsiCommand) {
            const uint32_t cmdSn = waiting_[i].CmdSn();
            waiting_.erase(waiting_.begin() + static_cast<std::ptrdiff_t>(i));
            CountAsReceived(cmdSn);
            return 0;
        }
    }
    // One never received, inside the window and before this request, counts as received and
    // done: without that its CmdSN would be a gap that holds up every later command.
    if (!InWindow(refCmdSn) || !Pdu::SerialLess(refCmdSn, pdu.CmdSn())) return 1;  // task does not exist
    CountAsReceived(refCmdSn);
    return 0;
}

void IscsiConnection::CountAsReceived(uint32_t cmdSn) {
    for (const Pdu& waiting : waiting_) {
        if (waiting.CmdSn() == cmdSn) return;
    }
    // A NOP-Out without task tags stands in for the command: carried out, it does nothing.
    Pdu stand = Pdu::Make(Pdu::NopOut, Pdu::FinalFlag);
    stand.Put32(16, Pdu::NoTag);
    stand.Put32(20, Pdu::NoTag);
    stand.Put32(24, cmdSn);
    waiting_.push_back(stand);
    RunWaiting();
}

}  // namespace emulator
