// IscsiConnection: SCSI commands and their data (immediate data, Data-Out, R2T), the drive that
// runs them and the link's faults that keep them from it.
#include "emulator/iscsi/IscsiConnection.h"

#include <string.h>

#include <algorithm>
#include <memory>

#include "emulator/iscsi/CdbShape.h"
#include "emulator/iscsi/EventLog.h"

namespace emulator {

namespace {

constexpr uint8_t OpReportLuns = 0xA0;
constexpr uint8_t OpRead10 = 0x28;
constexpr uint8_t SenseAbortedCommand = 0x0B;
constexpr uint8_t AscProtocolCrc = 0x47;  // ASCQ 05h: protocol service CRC error

}  // namespace

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

bool IscsiConnection::TagInUse(uint32_t itt) {
    auto same = [itt](const Task& t) { return t.itt == itt; };
    return FindTask(itt) != nullptr || std::any_of(held_.begin(), held_.end(), same) ||
           std::any_of(answers_.begin(), answers_.end(), [&same](const Answer& a) { return same(a.task); });
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
    t.lunZero = pdu.LunZero();
    const uint32_t immediate = static_cast<uint32_t>(pdu.data.size());
    const uint32_t firstBurst = std::min(params_.firstBurst, params_.maxBurst);

    if (t.itt == Pdu::NoTag) {
        Reject(pdu, RejectInvalidField, "SCSI Command without a task tag");
        return;
    }
    if (TagInUse(t.itt)) {
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
    if (t->damaged) {
        AbsorbDamaged(*t, pdu);
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
        Reject(pdu, RejectProtocolError, "Data-Out out of sequence");
        t->damaged = true;
        AbsorbDamaged(*t, pdu);
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

void IscsiConnection::DamagedData(const Pdu& pdu) {
    Reject(pdu, RejectDataDigest, "data digest error");
    // A command's immediate data is simply lost with its command, which the initiator retries;
    // a Data-Out's loss ends its task (error recovery level 0 asks for no data again).
    if (phase_ != Phase::FullFeature || pdu.Opcode() != Pdu::DataOut) return;
    Task* t = FindTask(pdu.InitiatorTaskTag());
    if (t == nullptr) return;
    t->damaged = true;
    AbsorbDamaged(*t, pdu);
}

void IscsiConnection::AbsorbDamaged(Task& task, const Pdu& pdu) {
    // The header passed its digest: the PDU's final bit tells which burst it closes.
    if ((pdu.Flags() & 0x80) != 0) {
        const uint32_t ttt = pdu.Get32(20);
        if (ttt == Pdu::NoTag) task.unsolicited = false;
        if (task.r2tOpen && ttt == task.ttt) task.r2tOpen = false;
    }
    if (task.unsolicited || task.r2tOpen) return;
    const Task done = task;
    RemoveTask(done.itt);
    Complete(done);
}

void IscsiConnection::ReportLuns(const Task& task, Answer& answer) const {
    // Answered by the target itself, as every target does: one logical unit, LUN 0.
    uint32_t allocation = 0;
    CdbShape::TransferLength(task.cdb, allocation);
    const uint8_t list[16] = {0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const uint32_t n = std::min<uint32_t>(allocation, sizeof list);
    answer.data.reset(new uint8_t[sizeof list]);
    answer.allocated = sizeof list;
    memcpy(answer.data.get(), list, n);
    answer.result.status = EmulatedDrive::StatusGood;
    answer.result.transferred = n;
}

void IscsiConnection::OtherLun(const Task& task, Answer& answer) const {
    // No logical unit behind any LUN but 0. INQUIRY still answers, as SPC asks, with peripheral
    // qualifier 011b (none can be here) and type 1Fh; everything else is CHECK CONDITION.
    answer.result.status = EmulatedDrive::StatusCheckCondition;
    if (task.cdb[0] != EmulatedDrive::OpInquiry || (task.cdb[1] & 0x01) != 0) return;
    uint32_t allocation = 0;
    CdbShape::TransferLength(task.cdb, allocation);
    uint8_t inquiry[EmulatedDrive::InquiryLength] = {0x7F, 0x00, 0x05, 0x02, EmulatedDrive::InquiryLength - 5};
    const uint32_t n = std::min<uint32_t>(allocation, sizeof inquiry);
    answer.data.reset(new uint8_t[sizeof inquiry]);
    answer.allocated = sizeof inquiry;
    memcpy(answer.data.get(), inquiry, n);
    answer.result.status = EmulatedDrive::StatusGood;
    answer.result.transferred = n;
}

void IscsiConnection::Complete(Task task) {
    Answer answer;
    auto check = [&answer](uint8_t key, uint8_t asc, uint8_t ascq) {
        answer.result.status = EmulatedDrive::StatusCheckCondition;
        answer.result.senseKey = key;
        answer.result.asc = asc;
        answer.result.ascq = ascq;
        answer.sense[0] = 0x70;
        answer.sense[2] = key;
        answer.sense[7] = EmulatedDrive::SenseLength - 8;
        answer.sense[12] = asc;
        answer.sense[13] = ascq;
        answer.result.senseWritten = EmulatedDrive::SenseLength;
    };
    // What the target answers itself is due at once, but still leaves behind the answers before it.
    answer.due = targets_.Now();
    if (task.damaged) {
        check(SenseAbortedCommand, AscProtocolCrc, 0x05);  // protocol service CRC error
    } else if (!task.lunZero) {
        OtherLun(task, answer);
        if (answer.result.status != EmulatedDrive::StatusGood) check(EmulatedDrive::SenseIllegalRequest, 0x25, 0x00);
    } else if (task.cdb[0] == OpReportLuns) {
        ReportLuns(task, answer);
    } else if (task.write && !task.store) {
        check(EmulatedDrive::SenseIllegalRequest, EmulatedDrive::AscInvalidField, 0x00);
    } else if (!RunOnDrive(task, answer)) {
        return;
    }
    answer.moved = Measure(task, task.read ? answer.result.transferred : 0, answer.result);
    task.data = std::vector<uint8_t>();
    answer.task = std::move(task);
    LogCommand(answer);
    answerBytes_ += answer.allocated;
    answers_.push_back(std::move(answer));
    SendDueAnswers();
}

uint32_t IscsiConnection::MostAnswered(const Task& task) const {
    // READ BUFFER reads the flash or less, READ(10) the disc in the drive (none: nothing); every
    // other length field is 16 bits wide at most.
    if (task.cdb[0] == EmulatedDrive::OpReadBuffer) {
        return static_cast<uint32_t>(target_->Drive->FlashImage().size());
    }
    if (task.cdb[0] == OpRead10) {
        const uint64_t disc = uint64_t{target_->Drive->Drive().MediumBlocks()} * EmulatedDrive::BlockLength;
        return static_cast<uint32_t>(std::min<uint64_t>(disc, MaxTransfer));
    }
    return MaxTransfer;
}

bool IscsiConnection::RunOnDrive(Task& task, Answer& answer) {
    uint32_t cdbTransfer = 0;
    const bool known = CdbShape::TransferLength(task.cdb, cdbTransfer);
    EmulatedDrive::Request request;
    request.cdb = task.cdb;
    request.cdbLength = task.cdbLength;
    // A READ(10) that the initiator flagged as a write still reads: its data has no way back, and
    // the data sent with it is not taken (underflow).
    const bool readFlaggedWrite = task.write && task.cdb[0] == OpRead10;
    if (task.write && task.expected != 0 && !readFlaggedWrite) {
        request.direction = EmulatedDrive::Direction::Out;
        request.data = task.data.data();
        request.dataLength = known ? std::min(cdbTransfer, task.expected) : task.expected;
    } else if (task.read || readFlaggedWrite) {
        request.direction = EmulatedDrive::Direction::In;
        // The drive answers as much as the CDB asks for; what exceeds the initiator's buffer is
        // cut off when it is sent and reported as overflow. The buffer is not cleared first: only
        // what the drive wrote is sent. It is no larger than the most the drive can answer, so that
        // a CDB asking for 16 MiB of a 1 MiB flash costs 1 MiB.
        const uint32_t length =
            known ? std::min(cdbTransfer, MostAnswered(task)) : std::min(task.expected, MaxUnknownTransfer);
        if (length != 0) answer.data.reset(new uint8_t[length]);
        answer.allocated = length;
        request.data = answer.data.get();
        request.dataLength = length;
    }
    request.sense = answer.sense;
    request.senseLength = sizeof answer.sense;
    if (!task.released && Intercept(task, request)) return false;
    // The drive's latency passes on the target set's clock: a sleep here would stop every other
    // connection of this thread as well.
    answer.result = target_->Drive->ExecuteAtOnce(request);
    if (readFlaggedWrite) answer.result.transferred = 0;
    const uint32_t latencyUs = target_->Drive->Drive().LatencyMicroseconds();
    answer.due = targets_.Now() + (latencyUs + 999u) / 1000u;
    return true;
}

bool IscsiConnection::Intercept(const Task& task, const EmulatedDrive::Request& request) {
    const EmulatedDrive::Kind kind = target_->Drive->Drive().Classify(request);
    // Both count every command, so that each picks the NTH of its own kind.
    const bool drop = target_->Drop.Take(kind);
    const bool hold = target_->Hold.Take(kind);
    if (!drop && !hold) return false;
    char cdb[40];
    EventLog::HexBytes(task.cdb, task.cdbLength, cdb, sizeof cdb);
    if (drop) {
        targets_.Log().Line("c%u drop itt=0x%08x cdb=%s kind=%s nth=%u: connection closed, logins refused for %u s",
                            number_, task.itt, cdb, EmulatedDrive::KindName(target_->Drop.kind), target_->Drop.nth,
                            target_->DropSeconds);
        targets_.RefuseLogins(*target_);
        Sever();
        return true;
    }
    const uint32_t seconds = target_->HoldSeconds;
    if (seconds == 0) {
        targets_.Log().Line("c%u hold itt=0x%08x cdb=%s kind=%s nth=%u: no answer", number_, task.itt, cdb,
                            EmulatedDrive::KindName(target_->Hold.kind), target_->Hold.nth);
    } else {
        targets_.Log().Line("c%u hold itt=0x%08x cdb=%s kind=%s nth=%u: answered in %u s", number_, task.itt, cdb,
                            EmulatedDrive::KindName(target_->Hold.kind), target_->Hold.nth, seconds);
    }
    held_.push_back(task);
    if (seconds != 0) held_.back().releaseAt = targets_.Now() + uint64_t{seconds} * 1000u;
    return true;
}

void IscsiConnection::ReleaseHeld() {
    for (size_t i = 0; i < held_.size();) {
        if (held_[i].releaseAt == 0 || held_[i].releaseAt > targets_.Now()) {
            ++i;
            continue;
        }
        Task task = held_[i];
        EndHold(i, "carried out and answered");
        task.released = true;
        Complete(task);
    }
}

void IscsiConnection::EndHold(size_t index, const char* why) {
    targets_.Log().Line("c%u hold itt=0x%08x ended: %s", number_, held_[index].itt, why);
    held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(index));
}

}  // namespace emulator
