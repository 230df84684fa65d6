#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "cli/DriveJob.h"
#include "cli/JsonWriter.h"
#include "cli/ProgressBoard.h"
#include "cli/TerminalApi.h"
#include "transport/DeviceRecord.h"
#include "transport/SgIoTransport.h"

// upgrade, save and verify of several drives at once: each drive on a thread of its own with its
// own transport and buffers, its texts kept apart, one progress line each on a terminal, and at
// the end one result line per drive and a summary. One drive's failure, or its disappearance,
// ends only that drive's thread.
//
// An upgrade first reads every drive's flash (into its back-up, when asked) and compares it with
// the image; only the drives it then decides to write are asked about and written.
//
// Signals: the reads before an upgrade's writes and every read of save and verify stop at a
// signal, on every drive, with nothing written. The writes start on all drives only once the
// signals are held for all of them; from then on every drive runs to its end.
//
// The exit status is the worst of the drives': 3 (something written, not complete) before 1
// (failed, nothing written) before 0; 2 when no drive got as far as its operation (each was
// stopped by the system or the command line); 128+N when signal N stopped the reads.
class SeveralDrives {
public:
    struct Drive {
        size_t Number = 0;     // as list shows it
        DeviceRecord Record;
        std::string File;      // save's file, or upgrade's back-up; empty for none
    };

    // LISTER is the transport that listed the drives: each drive gets a transport of its own
    // over the same system, with its listing and settings.
    SeveralDrives(const DriveJob::Context& context, SgIoTransport& lister, Console& console, TerminalApi& terminal,
                  const std::vector<Drive>& drives);
    ~SeveralDrives();
    SeveralDrives(const SeveralDrives&) = delete;
    SeveralDrives& operator=(const SeveralDrives&) = delete;

    // Asked before the drives are written, with those drives; 0 to go on, or the exit status
    // with WHY, the line that says for each of them why it was not written.
    using Question = std::function<int(const std::vector<Drive>& drives, std::string& why)>;

    // Each returns the exit status.
    int Upgrade(const Question& askToWrite);
    int Save();
    int Verify();

    // The status of the whole run from the drives' STATUSES (see above).
    static int Worst(const std::vector<int>& statuses);
    // PATTERN's file for drive NUMBER: "%n" becomes the number, "%%" a "%"; a folder
    // (FOLDER true) gets "flash-N.bin" in it.
    static std::string FileFor(const std::string& pattern, size_t number, bool folder);
    // Whether PATTERN names a file per drive ("%n" in it).
    static bool HasNumber(const std::string& pattern);

private:
    class Worker;
    enum class Task { Examine, Upgrade, Save, Verify };

    // Runs TASK on every drive whose status is still 0 (an upgrade: and that is to be written),
    // each on its own thread, and waits for them, drawing the board and telling once of a held
    // signal.
    void RunAll(Task task);
    // Ends an upgrade that SIGNAL stopped before its writes: the drives that were to be written
    // were not.
    int StoppedBeforeWriting(int signal);
    // Gives each drive that was to be written STATUS and WHY, the line that says why it was not.
    void NotWritten(int status, const std::string& why);
    // The drives whose upgrade is still on and writes.
    std::vector<Drive> ToWrite() const;
    bool AllFinished() const;
    // Says, once, that a signal is held while the drives are written; true when it did.
    bool TellHeld();
    bool AnyCommitted() const;
    // The results, the summary and the status; the run's own signal first, if one stopped it.
    int Finish(int signal);
    // The result word of drive I for the command, and its detail.
    std::string Result(size_t i) const;
    std::string Detail(size_t i) const;
    std::string Summary() const;
    void Json(int status) const;
    // The members only an upgrade's drive has in the JSON: device, versions, outcome, changed.
    void UpgradeFields(JsonWriter& json, size_t i) const;

    DriveJob::Context context_;
    SgIoTransport& lister_;
    Console& console_;
    TerminalApi& terminal_;
    ProgressBoard board_;
    std::vector<Drive> drives_;
    std::vector<std::unique_ptr<Worker>> workers_;
    CommandLine::Command command_ = CommandLine::Command::Upgrade;
};
