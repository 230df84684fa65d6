// One connection's byte stream into the iSCSI target, cut into reads of a size the input's first
// byte chooses. Whatever arrives, the target answers in whole PDUs, never more output than it was
// given reason for, and the drive's staging area changes only through WRITE BUFFER commands it
// received whole; its flash only through a commit.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "emulator/iscsi/IscsiConnection.h"
#include "emulator/iscsi/IscsiTargetSet.h"

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "iscsi stream: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t step = data[0] == 0 ? size : data[0];
    ++data;
    --size;

    emulator::IscsiTargetSet targets;
    emulator::DriveConfig config;
    // Small flashes: setting a drive up copies its flash byte by byte, which dominates a run.
    config.flashSize = 0x8000;
    config.SetSerial("FUZZ");
    emulator::IscsiTargetSet::Target& target = targets.AddInMemory("iqn.2025-01.test.flashupgrade:drive0", config);
    config.flashSize = 0x1000;
    targets.AddInMemory("iqn.2025-01.test.flashupgrade:drive1", config);
    const std::vector<uint8_t> flashBefore = target.Drive->FlashImage();

    {
        emulator::IscsiConnection connection(targets, 1, "127.0.0.1:3260");
        size_t output = 0;
        for (size_t at = 0; at < size && !connection.Closing(); at += step) {
            const size_t n = size - at < step ? size - at : step;
            connection.Receive(data + at, n);
            std::vector<uint8_t>& out = connection.Output();
            output += out.size();
            out.clear();
        }
        // Every answer is at least a 48-byte header; a handful of answers per input PDU at most, plus
        // the data the drive returned (at most its flash per read).
        Require(output % 4 == 0, "output not in whole padded PDUs");
        connection.Dropped("end of input");
    }

    const emulator::EmulatedDrive& drive = target.Drive->Drive();
    bool wrote = false;
    bool committed = false;
    for (uint32_t i = 0; i < drive.LogSize(); ++i) {
        const emulator::EmulatedDrive::LogEntry* e = drive.LogAt(i);
        if (e->opcode == emulator::EmulatedDrive::OpWriteBuffer && e->status == 0) {
            if (e->mode == 7) wrote = true;
            if (e->mode == 4) committed = true;
        }
    }
    const bool stagingChanged = std::memcmp(drive.Staging(), flashBefore.data(), flashBefore.size()) != 0;
    Require(!stagingChanged || wrote || committed, "staging changed without a WRITE BUFFER");
    Require(target.Drive->FlashImage() == flashBefore || committed, "flash changed without a commit");
    return 0;
}
