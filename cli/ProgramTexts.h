#pragma once

#include <cstdint>
#include <string>

#include "cli/JsonWriter.h"
#include "transport/DeviceRecord.h"
#include "transport/SgIoTransport.h"

// The texts of the front-end that the operations do not have: help, version, the drive's line,
// and the reasons of the environment.
class ProgramTexts {
public:
    static const char* Help();
    static const char* Version();   // "flashupgrade 1.51"

    // "(H, C, T, L) VENDOR PRODUCT Version X.Y", the drop-down's line: texts as the drive sent
    // them, the address whole as the transport found it.
    static std::string DriveLine(const DeviceRecord& record, const SgIoTransport::ScsiAddress& address);
    // The version text of the image in SLOT (a firmware slot, head and image).
    static std::string ImageVersion(const unsigned char* slot);
    // What the user does for new firmware to take effect.
    static const char* RestartLine();
    // The members of drive NUMBER of the list in a JSON object: its number, address, texts
    // (trimmed and as sent), version, controller, flash size and node.
    static void DriveFields(JsonWriter& json, size_t number, const DeviceRecord& record,
                            const SgIoTransport::ScsiAddress& address);
    // The drive's node as listed.
    static std::string Node(const DeviceRecord& record);
    // A text field of the record without its trailing blanks.
    static std::string Trimmed(const char* field, size_t size);

    // "flashupgrade: NODE: REASON" for an errno that the environment gave on NODE.
    static std::string EnvironmentError(int error, const std::string& node);
    // The same for a firmware write the kernel refuses through a block node for want of privilege.
    static std::string WriteRefused(const std::string& node);
};
