#pragma once

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "emulator/drive/EmulatedDrive.h"
#include "emulator/iscsi/IscsiTargetSet.h"
#include "emulator/iscsi/Pdu.h"
#include "emulator/iscsi/PduReader.h"
#include "emulator/iscsi/SessionParameters.h"

namespace emulator {

// One iSCSI connection, and with MaxConnections=1 its session: bytes from the initiator go in,
// bytes for it come out. No sockets here; TargetServer moves the bytes.
//
// Login without authentication, then the full feature phase with error recovery level 0: SCSI
// commands in CmdSN order within a window of CommandWindow (commands outside it are dropped,
// ones ahead of a gap wait for it), write data as immediate data, unsolicited Data-Out and
// Data-Out for one R2T at a time; read data as Data-In PDUs cut to the initiator's
// MaxRecvDataSegmentLength, status in the last one or in a SCSI Response with sense and
// residuals; NOP, task management, SendTargets, logout. A PDU that breaks the protocol gets a
// Reject; one that makes the stream untrustworthy ends the connection.
//
// The link's own faults of a drive (hold=, drop=) happen here, before the drive sees the
// command: a held command gets no answer until task management aborts it or the connection
// ends, and holds no place in the command window; a dropped one ends the connection at once,
// losing whatever output was still queued, and logins to the drive are refused for a while.
//
// A drive's latency is kept here too, as time and not as a sleep, so that one slow drive holds
// up no other connection: the command runs at once and its answer waits until the latency has
// passed on the target set's clock. Answers leave in the order the commands ran (a held command
// alone may be overtaken), and a waiting command keeps its place in the command window; task
// management, logout and the connection's end drop waiting answers as they drop held commands.
class IscsiConnection {
public:
    static constexpr uint32_t CommandWindow = 8;
    static constexpr uint32_t MaxTasks = 16;
    // The most data one command moves: the largest flash a drive can have.
    static constexpr uint32_t MaxTransfer = 0x1000000;
    // The read buffer of a command whose CDB gives no transfer length: the drive answers none of
    // those with data, and an initiator's large buffer should not cost an allocation of its size.
    static constexpr uint32_t MaxUnknownTransfer = 0x10000;
    static constexpr size_t MaxLoginText = 65536;
    // Output queued (answers waiting for their time, bytes not yet sent) at which the connection
    // runs no further command: an initiator that sends commands and reads nothing costs at most
    // this much, plus the one command that crossed it.
    static constexpr size_t OutputCap = 4u << 20;

    // Reject reasons.
    static constexpr uint8_t RejectDataDigest = 0x02;
    static constexpr uint8_t RejectSnack = 0x03;
    static constexpr uint8_t RejectProtocolError = 0x04;
    static constexpr uint8_t RejectNotSupported = 0x05;
    static constexpr uint8_t RejectImmediate = 0x06;
    static constexpr uint8_t RejectTaskInProgress = 0x07;
    static constexpr uint8_t RejectInvalidField = 0x09;

    // PORTAL is "HOST:PORT" of the local end, what SendTargets reports.
    IscsiConnection(IscsiTargetSet& targets, uint32_t number, const std::string& portal);
    ~IscsiConnection();
    IscsiConnection(const IscsiConnection&) = delete;
    IscsiConnection& operator=(const IscsiConnection&) = delete;

    void Receive(const uint8_t* bytes, size_t length);
    // What is to be sent; the caller takes bytes from the front.
    std::vector<uint8_t>& Output() { return output_; }
    // Bytes the server took from Output() and has not sent yet: they count against OutputCap.
    void SetBacklog(size_t bytes) { backlog_ = bytes; }
    // At OutputCap or above: no command runs, and the server reads nothing more until it drains.
    bool Saturated() const { return output_.size() + answerBytes_ + backlog_ >= OutputCap; }
    // Runs the PDUs that were read but left waiting while the output was saturated.
    void Resume();
    // A NOP-In that asks the initiator for an answer (a silent session); PingOutstanding() until
    // its NOP-Out comes back.
    void Ping();
    bool PingOutstanding() const { return pingTtt_ != 0; }
    // Nothing more is read; the connection ends once Output() is sent.
    bool Closing() const { return phase_ == Phase::Closing; }
    // The link broke (drop=): the connection ends now, nothing more is sent.
    bool Severed() const { return severed_; }
    // Carries out and answers the held commands whose time has come (hold= with SECONDS), and
    // sends the answers whose drive latency has passed.
    void ReleaseDue();
    // The earliest time a held command or an answer is due, in the target set's milliseconds;
    // 0 for none.
    uint64_t NextRelease() const;
    // The initiator went away (or the target shuts down): logged, tasks dropped.
    void Dropped(const char* why);

    // For other sessions' task management and for reinstatement; WHY is what ends a held
    // command, for the event log.
    void AbortTasks(const char* why);
    void ForceClose(const char* why);
    bool InFullFeature() const { return phase_ == Phase::FullFeature; }
    IscsiTargetSet::Target* Target() const { return target_; }
    const std::string& InitiatorName() const { return initiatorName_; }
    const uint8_t* Isid() const { return isid_; }
    uint32_t Number() const { return number_; }

    // For tests: the window as the initiator is told it.
    uint32_t ExpCmdSn() const { return expCmdSn_; }
    uint32_t MaxCmdSn() const;
    const SessionParameters& Parameters() const { return params_; }

private:
    enum class Phase { Login, FullFeature, Closing };

    struct Task {
        uint32_t itt = 0;
        bool counted = false;  // non-immediate: holds a place in the command window
        uint64_t releaseAt = 0;  // hold= with SECONDS: when it is carried out and answered
        bool released = false;   // held, and now carried out
        uint8_t cdb[16] = {};
        uint32_t cdbLength = 0;
        bool lunZero = true;
        bool read = false;
        bool write = false;
        uint32_t expected = 0;  // expected data transfer length
        bool store = true;      // false: more than MaxTransfer, taken in and thrown away
        std::vector<uint8_t> data;
        uint32_t received = 0;
        bool unsolicited = false;  // unsolicited Data-Out still to come
        uint32_t unsolicitedEnd = 0;
        bool r2tOpen = false;
        uint32_t ttt = 0;
        uint32_t r2tEnd = 0;
        uint32_t r2tSn = 0;
        uint32_t expectedDataSn = 0;
        // A Data-Out was lost to a digest error or came out of sequence: no further R2T, and once
        // the Data-Out already asked for is in, the task ends with CHECK CONDITION.
        bool damaged = false;
    };

    // What a command's answer says of its data: the bytes sent as Data-In, and the residual
    // flag (0x04 overflow, 0x02 underflow) with its count.
    struct Moved {
        uint32_t sent = 0;
        uint8_t residualFlag = 0;
        uint32_t residual = 0;
    };

    // A command the drive (or the target itself) has answered, waiting to be sent.
    struct Answer {
        Task task;                        // without its write data, which the drive has taken
        std::unique_ptr<uint8_t[]> data;  // the read data; moved.sent bytes are sent
        EmulatedDrive::Result result;
        uint8_t sense[EmulatedDrive::SenseLength] = {};
        uint32_t allocated = 0;           // bytes of data, counted in answerBytes_
        Moved moved;
        uint64_t due = 0;  // in the target set's milliseconds
    };

    // Login status classes.
    static constexpr uint8_t LoginInitiatorError = 0x02;
    static constexpr uint8_t LoginTargetError = 0x03;

    // The connection itself (IscsiConnection.cpp): PDUs in, CmdSN order, PDUs out, the end.
    // Takes PDUs out of the reader and processes them until it is empty or the output saturated.
    void ProcessBuffered();
    void Process(const Pdu& pdu);
    void Ordered(const Pdu& pdu);
    void Execute(const Pdu& pdu);
    void RunWaiting();
    bool InWindow(uint32_t cmdSn) const;
    void Logout(const Pdu& pdu);
    void Reject(const Pdu& pdu, uint8_t reason, const char* why);
    void Stamp(Pdu& pdu, bool advanceStatSn);
    void Send(Pdu& pdu);

    // Login and negotiation (IscsiConnectionLogin.cpp).
    void Login(const Pdu& pdu);
    // Checks a Login PDU against the login so far; false when it has been refused.
    bool LoginInOrder(const Pdu& req, bool transit, bool more, uint8_t csg, uint8_t nsg);
    // The keys of the whole login text into ANSWER; false when the login has been refused.
    bool LoginAnswer(const Pdu& req, uint8_t stage, std::vector<uint8_t>& answer);
    bool LoginNames(const Pdu& req, std::vector<uint8_t>& answer);
    void LoginFail(const Pdu& request, uint8_t statusClass, uint8_t detail, const char* why);
    // A PDU other than Login while the connection is not in the full feature phase.
    void NotALogin(const Pdu& pdu);
    // False when KEY was declared or negotiated before in this login.
    bool FirstTime(const std::string& key);
    bool LoginKeys(const std::vector<uint8_t>& text, uint8_t stage, std::vector<uint8_t>& answer,
                   uint8_t& statusClass, uint8_t& detail, std::string& why);
    bool LoginKey(const std::string& key, const std::string& value, std::vector<uint8_t>& answer, uint8_t& detail,
                  std::string& why);
    bool Negotiate(const std::string& key, const std::string& value, std::vector<uint8_t>& answer, std::string& why);
    void EnterFullFeature();

    // Text and discovery (IscsiConnectionText.cpp).
    void Text(const Pdu& pdu);

    // SCSI commands and their data (IscsiConnectionScsi.cpp).
    void Command(const Pdu& pdu);
    void DataOut(const Pdu& pdu);
    // A PDU whose data failed its digest: rejected; a Data-Out's task ends with CHECK CONDITION
    // once its last data is in.
    void DamagedData(const Pdu& pdu);
    // Takes a Data-Out of a damaged task without looking at its data; ends the task once no
    // burst is open any more.
    void AbsorbDamaged(Task& task, const Pdu& pdu);
    Task* FindTask(uint32_t itt);
    void RemoveTask(uint32_t itt);
    void Advance(uint32_t itt);
    bool TagInUse(uint32_t itt);
    // Runs TASK and queues its answer, unless hold= or drop= take it.
    void Complete(Task task);
    // Complete's work on the drive; false when the command is not to be answered.
    bool RunOnDrive(Task& task, Answer& answer);
    // The largest answer the drive can give to TASK's CDB, whatever length it asks for.
    uint32_t MostAnswered(const Task& task) const;
    // hold= and drop= of the drive; true when the command is not to reach it.
    bool Intercept(const Task& task, const EmulatedDrive::Request& request);
    void ReleaseHeld();
    void EndHold(size_t index, const char* why);
    void Sever();
    void ReportLuns(const Task& task, Answer& answer) const;
    void OtherLun(const Task& task, Answer& answer) const;

    // The answers of SCSI commands (IscsiConnectionAnswers.cpp).
    static Moved Measure(const Task& task, uint32_t available, const EmulatedDrive::Result& result);
    // The event log's line of a command, written when it runs.
    void LogCommand(const Answer& answer);
    // Sends the answers at the front of the queue whose time has come.
    void SendDueAnswers();
    void SendAnswer(const Answer& answer);
    // Returns the DataSN that follows the last Data-In sent.
    uint32_t SendDataIn(const Task& task, const uint8_t* data, const Moved& moved, const EmulatedDrive::Result& result);
    void SendResponse(const Task& task, uint32_t dataSn, const Moved& moved, const EmulatedDrive::Result& result,
                      const uint8_t* sense);
    // Task management and the connection's end: the answer is never sent. False when no answer
    // of ITT waits.
    bool DropAnswer(uint32_t itt, const char* why);
    void DropAnswers(const char* why);

    // Task management and NOP (IscsiConnectionTaskManagement.cpp).
    void NopOut(const Pdu& pdu);
    void TaskManagement(const Pdu& pdu);
    // Runs task management FUNCTION; returns its response.
    uint8_t ManageTasks(const Pdu& pdu, uint8_t function);
    uint8_t AbortTask(const Pdu& pdu);
    // A CmdSN that counts as received without a command (ABORT TASK of one that never came):
    // ExpCmdSN moves past it when its turn comes.
    void CountAsReceived(uint32_t cmdSn);

    IscsiTargetSet& targets_;
    uint32_t number_;
    std::string portal_;
    PduReader reader_;
    std::vector<uint8_t> output_;
    Phase phase_ = Phase::Login;
    bool loggedOut_ = false;
    bool severed_ = false;

    // Login.
    uint32_t loginPdus_ = 0;
    uint8_t stage_ = 0;
    bool mrdslDeclared_ = false;
    bool namesChecked_ = false;
    std::vector<uint8_t> loginText_;
    std::vector<std::string> loginKeys_;  // every key of this login so far
    std::string initiatorName_;
    bool discovery_ = false;
    bool sessionTypeSeen_ = false;
    bool targetNameSeen_ = false;
    std::string targetName_;
    IscsiTargetSet::Target* target_ = nullptr;
    uint8_t isid_[6] = {};
    uint16_t tsih_ = 0;
    uint16_t cid_ = 0;
    SessionParameters params_;

    // Full feature phase.
    uint32_t statSn_ = 0;
    uint32_t expCmdSn_ = 0;
    std::vector<Pdu> waiting_;  // ahead of a gap in CmdSN
    std::vector<Task> tasks_;
    std::vector<Task> held_;  // hold=: never answered
    // Answered, waiting to be sent, in the order the commands ran.
    std::deque<Answer> answers_;
    size_t answerBytes_ = 0;  // read data held by answers_
    size_t backlog_ = 0;
    uint32_t nextTtt_ = 1;
    uint32_t pingTtt_ = 0;  // the NOP-In ping waiting for its NOP-Out; 0 for none
};

}  // namespace emulator
