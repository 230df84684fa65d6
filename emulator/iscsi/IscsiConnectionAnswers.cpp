// IscsiConnection: the answers of SCSI commands, kept until their time has come (at once, or
// when the drive's latency has passed) and sent as Data-In and SCSI Response in the order the
// commands ran.
#include "emulator/iscsi/IscsiConnection.h"

#include <algorithm>

#include "emulator/iscsi/EventLog.h"

namespace emulator {

void IscsiConnection::ReleaseDue() {
    ReleaseHeld();
    SendDueAnswers();
}

uint64_t IscsiConnection::NextRelease() const {
    uint64_t next = 0;
    for (const Task& task : held_) {
        if (task.releaseAt != 0 && (next == 0 || task.releaseAt < next)) next = task.releaseAt;
    }
    // Only the front answer counts: the ones behind it wait for it whatever their own time.
    if (!answers_.empty() && (next == 0 || answers_.front().due < next)) next = answers_.front().due;
    return next;
}

IscsiConnection::Moved IscsiConnection::Measure(const Task& task, uint32_t available,
                                                const EmulatedDrive::Result& result) {
    Moved moved;
    if (task.read) {
        moved.sent = std::min(available, task.expected);
        if (available > task.expected) {
            moved.residualFlag = 0x04;  // overflow
            moved.residual = available - task.expected;
        }
    } else if (task.write) {
        // Out data the drive did not take.
        const uint32_t used = result.transferred;
        if (used < task.expected) {
            moved.residualFlag = 0x02;
            moved.residual = task.expected - used;
        }
    }
    if (task.read && moved.sent < task.expected) {
        moved.residualFlag = 0x02;  // underflow
        moved.residual = task.expected - moved.sent;
    }
    return moved;
}

void IscsiConnection::LogCommand(const Answer& answer) {
    const Task& task = answer.task;
    const EmulatedDrive::Result& result = answer.result;
    const Moved& moved = answer.moved;
    char cdb[40];
    EventLog::HexBytes(task.cdb, task.cdbLength, cdb, sizeof cdb);
    targets_.Log().Line(
        "c%u command itt=0x%08x cdb=%s %s edtl=%u status=%u sense=%02x/%02x/%02x moved=%u residual=%s%u", number_,
        task.itt, cdb,
        task.read    ? "in"
        : task.write ? "out"
                     : "none",
        task.expected, result.status, result.senseKey, result.asc, result.ascq,
        task.read ? moved.sent : result.transferred,
        moved.residualFlag == 0x04   ? "overflow "
        : moved.residualFlag == 0x02 ? "underflow "
                                     : "",
        moved.residual);
}

void IscsiConnection::SendDueAnswers() {
    while (!answers_.empty() && answers_.front().due <= targets_.Now()) {
        // Out of the queue before it is stamped, so that its MaxCmdSN gives its place back.
        const Answer answer = std::move(answers_.front());
        answers_.pop_front();
        answerBytes_ -= answer.allocated;
        SendAnswer(answer);
    }
}

void IscsiConnection::SendAnswer(const Answer& answer) {
    const uint32_t dataSn = SendDataIn(answer.task, answer.data.get(), answer.moved, answer.result);
    if (answer.moved.sent != 0 && answer.result.status == EmulatedDrive::StatusGood) return;
    SendResponse(answer.task, dataSn, answer.moved, answer.result, answer.sense);
}

uint32_t IscsiConnection::SendDataIn(const Task& task, const uint8_t* data, const Moved& moved,
                                     const EmulatedDrive::Result& result) {
    // Data-In, cut to the initiator's segment limit; bursts end at MaxBurstLength. The status
    // rides on the last one when the command went well.
    const bool good = result.status == EmulatedDrive::StatusGood;
    uint32_t dataSn = task.r2tSn;
    uint32_t offset = 0;
    uint32_t burst = 0;
    while (offset < moved.sent) {
        const uint32_t n = std::min(moved.sent - offset, params_.initiatorMaxRecvDataSegment);
        const bool last = offset + n == moved.sent;
        burst += n;
        const bool burstEnd = last || burst >= params_.maxBurst;
        if (burstEnd) burst = 0;
        const bool withStatus = last && good;
        Pdu d = Pdu::Make(Pdu::DataIn,
                          static_cast<uint8_t>((burstEnd ? 0x80 : 0) | (withStatus ? 0x01 | moved.residualFlag : 0)));
        d.Put32(16, task.itt);
        d.Put32(20, Pdu::NoTag);
        d.Put32(36, dataSn++);
        d.Put32(40, offset);
        if (withStatus) {
            d.header[3] = result.status;
            d.Put32(44, moved.residual);
        }
        d.data.assign(data + offset, data + offset + n);
        Stamp(d, withStatus);
        if (!withStatus) d.Put32(24, 0);
        Send(d);
        offset += n;
    }
    return dataSn;
}

void IscsiConnection::SendResponse(const Task& task, uint32_t dataSn, const Moved& moved,
                                   const EmulatedDrive::Result& result, const uint8_t* sense) {
    Pdu r = Pdu::Make(Pdu::ScsiResponse, static_cast<uint8_t>(0x80 | moved.residualFlag));
    r.header[2] = 0x00;  // command completed at target
    r.header[3] = result.status;
    r.Put32(16, task.itt);
    r.Put32(36, dataSn);
    r.Put32(44, moved.residual);
    if (result.status != EmulatedDrive::StatusGood && result.senseWritten != 0) {
        r.data.push_back(static_cast<uint8_t>(result.senseWritten >> 8));
        r.data.push_back(static_cast<uint8_t>(result.senseWritten));
        r.data.insert(r.data.end(), sense, sense + result.senseWritten);
    }
    Stamp(r, true);
    Send(r);
}

bool IscsiConnection::DropAnswer(uint32_t itt, const char* why) {
    for (auto a = answers_.begin(); a != answers_.end(); ++a) {
        if (a->task.itt == itt) {
            targets_.Log().Line("c%u command itt=0x%08x not answered: %s", number_, itt, why);
            answerBytes_ -= a->allocated;
            answers_.erase(a);
            return true;
        }
    }
    return false;
}

void IscsiConnection::DropAnswers(const char* why) {
    while (!answers_.empty()) DropAnswer(answers_.front().task.itt, why);
}

}  // namespace emulator
