#include "cli/SeveralDrives.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "cli/CommandTrace.h"
#include "cli/ExitStatus.h"
#include "cli/JsonWriter.h"
#include "cli/ProgramTexts.h"

using Command = CommandLine::Command;

namespace {

// How long the board waits for news before it looks at the signals again.
constexpr unsigned RedrawMs = 100;
constexpr const char* Prefix = "flashupgrade: ";

std::string WithoutPrefix(const std::string& line) {
    return line.compare(0, 14, Prefix) == 0 ? line.substr(14) : line;
}

// The texts a drive's job said, kept for its result.
class KeptReport final : public DriveReport {
public:
    struct Said {
        bool Error;
        std::string Line;
    };
    std::vector<Said> Lines;

    void Out(const std::string& line) override { Lines.push_back({false, line}); }
    void Err(const std::string& line) override { Lines.push_back({true, line}); }
};

// --verbose over several drives: each command's line as it goes, named by its drive, one line
// at a time on the terminal.
class DriveTrace final : public SgIoTransport::Observer {
public:
    DriveTrace(Console& console, std::mutex& lock, const std::string& name, int level)
        : console_(console), lock_(lock), name_(name), level_(level) {}

    void CommandDone(const SgIoTransport::Exchanged& command) override {
        std::lock_guard<std::mutex> hold(lock_);
        console_.Line(TerminalApi::Stream::Error, Prefix + name_ + ": " + WithoutPrefix(CommandTrace::Line(command)));
        const std::string data = level_ > 1 ? CommandTrace::DataLine(command) : std::string();
        if (!data.empty()) console_.Line(TerminalApi::Stream::Error, Prefix + name_ + ": " + WithoutPrefix(data));
    }

private:
    Console& console_;
    std::mutex& lock_;
    std::string name_;
    int level_;
};

}  // namespace

// One drive's transport, job, texts and progress row, and its thread while a task runs.
class SeveralDrives::Worker {
public:
    Worker(SeveralDrives& run, const Drive& drive)
        : transport_(run.lister_.Scsi()),
          trace_(run.console_, run.board_.Lock(), Name(drive), run.context_.Options.Verbose),
          job_(run.context_, transport_, drive.Record, drive.Number, Report),
          row_(run.board_.Add(run.context_.Stops, Name(drive))),
          drive_(drive),
          context_(run.context_) {
        transport_.TakeListing(run.lister_);
        if (run.context_.Options.Verbose != 0) transport_.SetObserver(&trace_);
    }

    KeptReport Report;
    // The status of the drive's last task; read once its thread has ended.
    int Status = ExitStatus::Done;
    const DriveJob& Job() const { return job_; }
    // Whether the task started last has not yet ended.
    bool Busy() const { return running_; }

    static std::string Name(const Drive& drive) {
        return "Drive " + std::to_string(drive.Number) + " " + ProgramTexts::Node(drive.Record);
    }

    // Starts TASK on a thread of its own; runs it here when no thread can be had.
    void Start(Task task) {
        task_ = task;
        running_ = true;
        started_ = pthread_create(&thread_, nullptr, &Worker::Main, this) == 0;
        if (!started_) Run();
    }
    void Join() {
        if (started_) pthread_join(thread_, nullptr);
        started_ = false;
    }

private:
    static void* Main(void* worker) {
        static_cast<Worker*>(worker)->Run();
        return nullptr;
    }

    void Run() {
        switch (task_) {
        case Task::Examine:
            row_.SetStep(drive_.File.empty() ? "reading" : "back-up");
            Status = job_.Examine(drive_.File, row_);
            break;
        case Task::Upgrade:
            row_.SetStep(context_.Options.DryRun ? "checking" : "writing");
            Status = job_.Upgrade(row_);
            break;
        case Task::Save:
            row_.SetStep("reading");
            Status = job_.Save(drive_.File, row_);
            break;
        case Task::Verify:
            row_.SetStep("reading");
            Status = job_.Verify(row_);
            break;
        }
        // Ended before the row's last step, whose news wakes the board to find every drive done.
        running_ = false;
        row_.SetStep(LastStep());
    }

    const char* LastStep() const {
        if (task_ != Task::Examine) return Status == ExitStatus::Done ? "done" : "failed";
        if (Status == ExitStatus::Done) return job_.Writes() ? "read" : "unchanged";
        return job_.Outcome(Status) == std::string("refused-older") ? "refused" : "failed";
    }

    SgIoTransport transport_;
    DriveTrace trace_;
    DriveJob job_;
    ProgressBoard::Row& row_;
    Drive drive_;
    const DriveJob::Context& context_;
    Task task_ = Task::Verify;
    pthread_t thread_{};
    bool started_ = false;
    std::atomic<bool> running_{false};
};

SeveralDrives::SeveralDrives(const DriveJob::Context& context, SgIoTransport& lister, Console& console,
                             TerminalApi& terminal, const std::vector<Drive>& drives)
    : context_(context),
      lister_(lister),
      console_(console),
      terminal_(terminal),
      // The trace's lines would break the board at every command.
      board_(terminal, context.Options.Verbose == 0),
      drives_(drives),
      command_(context.Options.Action) {
    for (const Drive& drive : drives_) workers_.push_back(std::unique_ptr<Worker>(new Worker(*this, drive)));
}

SeveralDrives::~SeveralDrives() = default;

bool SeveralDrives::AllFinished() const {
    for (const auto& worker : workers_) {
        if (worker->Busy()) return false;
    }
    return true;
}

void SeveralDrives::RunAll(Task task) {
    for (const auto& worker : workers_) {
        if (worker->Status != ExitStatus::Done) continue;
        if (task == Task::Upgrade && !worker->Job().Writes()) continue;
        worker->Start(task);
    }
    for (;;) {
        const bool moved = board_.WaitForNews(RedrawMs);
        if (TellHeld() || moved) board_.Draw();
        if (AllFinished()) break;
    }
    for (const auto& worker : workers_) worker->Join();
    // A signal that came after the last look is told all the same.
    TellHeld();
    board_.Draw();
}

bool SeveralDrives::TellHeld() {
    const int signal = context_.Stops.NewlyHeld();
    if (signal == 0) return false;
    std::lock_guard<std::mutex> hold(board_.Lock());
    board_.Break();
    console_.Line(TerminalApi::Stream::Error,
                  std::string(Prefix) + Interruption::Name(signal) + " received while image version " +
                      ProgramTexts::ImageVersion(context_.Slot) + " is written to " + std::to_string(drives_.size()) +
                      " drives: stopping now could leave them without working firmware; the program stops as "
                      "soon as the writes are done");
    return true;
}

int SeveralDrives::Upgrade(const Question& askToWrite) {
    RunAll(Task::Examine);
    if (const int signal = context_.Stops.Stop()) return StoppedBeforeWriting(signal);
    const std::vector<Drive> toWrite = ToWrite();
    if (toWrite.empty()) return Finish(0);
    std::string why;
    // The question goes below the rows, which are drawn anew below it.
    board_.Break();
    const int asked = askToWrite(toWrite, why);
    if (const int signal = context_.Stops.Stop()) return StoppedBeforeWriting(signal);
    if (asked != 0) {
        NotWritten(asked, why);
        return Finish(0);
    }
    // Every drive writes inside the one span in which the signals are held; a signal before it
    // stops them all with nothing written.
    if (!context_.Options.DryRun && !context_.Stops.Hold()) return StoppedBeforeWriting(context_.Stops.Stop());
    RunAll(Task::Upgrade);
    return Finish(context_.Stops.Stop());
}

int SeveralDrives::StoppedBeforeWriting(int signal) {
    NotWritten(Interruption::Status(signal), std::string("stopped by ") + Interruption::Name(signal) +
                                                 " before its first write");
    return Finish(signal);
}

void SeveralDrives::NotWritten(int status, const std::string& why) {
    // A drive that was to be written and was not is no success, whatever its reads decided.
    for (const auto& worker : workers_) {
        if (worker->Status != ExitStatus::Done || !worker->Job().Writes()) continue;
        worker->Status = status;
        worker->Report.Err(why);
    }
}

std::vector<SeveralDrives::Drive> SeveralDrives::ToWrite() const {
    std::vector<Drive> drives;
    for (size_t i = 0; i < workers_.size(); ++i) {
        if (workers_[i]->Status == ExitStatus::Done && workers_[i]->Job().Writes()) drives.push_back(drives_[i]);
    }
    return drives;
}

int SeveralDrives::Save() {
    RunAll(Task::Save);
    return Finish(context_.Stops.Stop());
}

int SeveralDrives::Verify() {
    RunAll(Task::Verify);
    return Finish(context_.Stops.Stop());
}

int SeveralDrives::Finish(int signal) {
    std::vector<int> statuses;
    for (size_t i = 0; i < workers_.size(); ++i) {
        const Worker& worker = *workers_[i];
        statuses.push_back(worker.Status);
        if (worker.Status == ExitStatus::Done) continue;
        // Why a drive did not get its result, each line named by the drive.
        for (const KeptReport::Said& said : worker.Report.Lines) {
            console_.Line(TerminalApi::Stream::Error,
                          Worker::Name(drives_[i]) + ": " + WithoutPrefix(said.Line));
        }
    }
    int status = Worst(statuses);
    if (signal != 0) status = Interruption::Status(signal);
    if (context_.Options.Json) {
        Json(status);
    } else {
        for (size_t i = 0; i < workers_.size(); ++i) {
            const std::string detail = Detail(i);
            console_.Line(TerminalApi::Stream::Out,
                          Worker::Name(drives_[i]) + ": " + Result(i) + (detail.empty() ? "" : ": " + detail));
        }
        console_.Line(TerminalApi::Stream::Out, Summary());
        // A restart would leave a drive whose writes did not complete without working firmware.
        if (status == ExitStatus::Incomplete) {
            console_.Line(TerminalApi::Stream::Out,
                          "Do not power off or restart the computer or the drives: the firmware of the drives "
                          "marked incomplete may be incomplete. Run the same upgrade again for each of them.");
        } else if (AnyCommitted()) {
            console_.Line(TerminalApi::Stream::Out, "The new firmware takes effect when the drives restart: "
                                                    "power-cycle them or restart the computer.");
        }
    }
    if (signal != 0) console_.Line(TerminalApi::Stream::Error, Interruption::Stopped(signal, std::string(), true));
    return status;
}

bool SeveralDrives::AnyCommitted() const {
    for (const auto& worker : workers_) {
        if (worker->Status == ExitStatus::Done && worker->Job().CommitSent()) return true;
    }
    return false;
}

std::string SeveralDrives::Result(size_t i) const {
    const Worker& worker = *workers_[i];
    const bool done = worker.Status == ExitStatus::Done;
    switch (command_) {
    case Command::Upgrade:
        if (worker.Status == ExitStatus::Incomplete) return "incomplete";
        if (!done) return "not written";
        if (!worker.Job().Writes()) return "unchanged";
        if (context_.Options.DryRun) return "would be upgraded";
        return context_.Options.NoVerify ? "committed" : "upgraded";
    case Command::Save: return done ? "saved" : "not saved";
    default:
        if (done) return "equals the image";
        return worker.Job().Differs() ? "differs from the image" : "not read";
    }
}

std::string SeveralDrives::Detail(size_t i) const {
    const Worker& worker = *workers_[i];
    if (worker.Status == ExitStatus::Done) {
        if (command_ == Command::Upgrade) return worker.Job().PlanLine();
        return command_ == Command::Save ? drives_[i].File : std::string();
    }
    // Written and not complete: what to do now. Otherwise why: the last reason, or the last text.
    const std::vector<KeptReport::Said>& lines = worker.Report.Lines;
    const bool wantError = worker.Status != ExitStatus::Incomplete;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (it->Error == wantError) return WithoutPrefix(it->Line);
    }
    return lines.empty() ? std::string() : WithoutPrefix(lines.back().Line);
}

std::string SeveralDrives::Summary() const {
    // The results in the order of the way an operation goes, each with how many drives had it.
    std::vector<std::pair<std::string, size_t>> counts;
    for (size_t i = 0; i < workers_.size(); ++i) {
        const std::string result = Result(i);
        auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == result; });
        if (it == counts.end()) {
            counts.emplace_back(result, 1);
        } else {
            ++it->second;
        }
    }
    const char* order[] = {"upgraded", "committed", "would be upgraded", "unchanged", "saved", "equals the image",
                           "differs from the image", "not written", "not saved", "not read", "incomplete"};
    std::string summary = std::to_string(drives_.size()) + (drives_.size() == 1 ? " drive:" : " drives:");
    bool first = true;
    for (const char* result : order) {
        for (const auto& count : counts) {
            if (count.first != result) continue;
            summary += (first ? " " : ", ") + std::to_string(count.second) + " " + count.first;
            first = false;
        }
    }
    return summary;
}

void SeveralDrives::Json(int status) const {
    JsonWriter json;
    json.BeginObject();
    json.Key("command");
    json.String(command_ == Command::Upgrade ? "upgrade" : command_ == Command::Save ? "save" : "verify");
    if (command_ != Command::Save) {
        json.Key("image");
        json.String(ProgramTexts::ImageVersion(context_.Slot));
    }
    if (command_ == Command::Upgrade) {
        json.Key("dryRun");
        json.Boolean(context_.Options.DryRun);
    }
    json.Key("status");
    json.Number(static_cast<uint64_t>(status));
    json.Key("drives");
    json.BeginArray();
    for (size_t i = 0; i < workers_.size(); ++i) {
        json.BeginObject();
        ProgramTexts::DriveFields(json, drives_[i].Number, drives_[i].Record,
                                  lister_.AddressOf(drives_[i].Record));
        json.Key("status");
        json.Number(static_cast<uint64_t>(workers_[i]->Status));
        json.Key("result");
        json.String(Result(i));
        json.Key("detail");
        json.String(Detail(i));
        if (!drives_[i].File.empty()) {
            json.Key("file");
            json.String(drives_[i].File);
        }
        if (command_ == Command::Upgrade) UpgradeFields(json, i);
        json.EndObject();
    }
    json.EndArray();
    json.Key("summary");
    json.String(Summary());
    json.EndObject();
    console_.Line(TerminalApi::Stream::Out, json.Text());
}

void SeveralDrives::UpgradeFields(JsonWriter& json, size_t i) const {
    const DeviceRecord& drive = drives_[i].Record;
    const Worker& worker = *workers_[i];
    json.Key("device");
    json.String(ProgramTexts::Node(drive));
    json.Key("versionBefore");
    json.String(std::to_string(drive.VersionMajor) + "." + std::to_string(drive.VersionMinor));
    json.Key("imageVersion");
    json.String(ProgramTexts::ImageVersion(context_.Slot));
    json.Key("outcome");
    json.String(worker.Job().Outcome(worker.Status));
    // A commit sent is a change, whatever its answer: the drive may activate it when it restarts.
    json.Key("changed");
    json.Boolean(worker.Job().CommitSent());
}

int SeveralDrives::Worst(const std::vector<int>& statuses) {
    bool anyFailed = false;
    bool allStopped = !statuses.empty();
    for (int status : statuses) {
        if (status == ExitStatus::Incomplete) return ExitStatus::Incomplete;
        if (status != ExitStatus::Done) anyFailed = true;
        if (status != ExitStatus::Environment) allStopped = false;
    }
    if (allStopped) return ExitStatus::Environment;
    return anyFailed ? ExitStatus::Failed : ExitStatus::Done;
}

bool SeveralDrives::HasNumber(const std::string& pattern) {
    for (size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        if (pattern[i + 1] == 'n') return true;
        ++i;   // "%%" and any other pair stand for themselves
    }
    return false;
}

std::string SeveralDrives::FileFor(const std::string& pattern, size_t number, bool folder) {
    if (folder) {
        return pattern + (pattern.back() == '/' ? "" : "/") + "flash-" + std::to_string(number) + ".bin";
    }
    std::string file;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && (pattern[i + 1] == 'n' || pattern[i + 1] == '%')) {
            file += pattern[i + 1] == 'n' ? std::to_string(number) : "%";
            ++i;
        } else {
            file += pattern[i];
        }
    }
    return file;
}
