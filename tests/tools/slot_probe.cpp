// Prints what this program reads from its own firmware slot, so that a test can fill the slot
// with combine and see what a program linking firmware_slot then finds at run time.
#include <cstdio>

#include "upgrade/FirmwareChecksum.h"
#include "upgrade/FirmwareSlot.h"

int main() {
    const upgrade::FirmwareSlot& slot = upgrade::EmbeddedSlot();
    char version[5];
    char checksumText[5];
    upgrade::SlotText(slot.VersionText, version);
    upgrade::SlotText(slot.ChecksumText, checksumText);
    char line[96];
    std::snprintf(line, sizeof line, "filled=%d version=%s checksum_text=%s expected=%04X computed=%04X",
                  upgrade::SlotIsFilled() ? 1 : 0, version, checksumText,
                  static_cast<unsigned int>(upgrade::ExpectedChecksum()),
                  static_cast<unsigned int>(upgrade::EmbeddedImageChecksum()));
    std::puts(line);
    return 0;
}
