#pragma once

#include <string>

#include "transport/DeviceRecord.h"
#include "upgrade/OperationOutcome.h"

// The texts of the operations' outcomes: what the dialog puts on its status line and the terminal
// prints, one for each way an operation ends.
class OperationTexts {
public:
    // "Upgrade Firmware..." and "Save Firmware...", shown as the operation starts.
    static const char* UpgradeStarts();
    static const char* SaveStarts();
    // The status text of OUTCOME for the operation on DRIVE (and the dump file at PATH). Empty
    // where an outcome has none: a flash that cannot hold the image, a run stopped before
    // writing.
    static std::string Status(const OperationOutcome& outcome, const DeviceRecord& drive, const std::string& path);
    // The one question: may the dump file at PATH lose its content?
    static std::string OverwriteQuestion(const std::string& path);
    // "Need Combine firmware first !!"
    static const char* SlotUnfilled();
};
