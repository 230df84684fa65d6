#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "emulator/drive/ConfigText.h"

namespace emulator {

// What iscsi-target serves, read with ConfigText. Statements:
//
//   target listen=HOST:PORT log=PATH   the address to listen on (default 127.0.0.1:3260; port 0
//                                      takes a free one) and the event log; at most once. Its
//                                      limits (ServerLimits):
//          max-connections=N           connections served at once, 1 to MostConnections [64]
//          login-timeout=SECONDS       to reach the full feature phase, 1 to MostSeconds [15]
//          nop-interval=SECONDS        silence after which a session gets a NOP-In, and after
//                                      that, silence that closes it; 0 (none) to MostSeconds [30]
//   drive iqn=NAME KEY=VALUE...        one emulated drive, LUN 0 of the target NAME, with the
//                                      drive keys of ConfigText; served in file order. The
//                                      link's keys act here: hold= keeps the command from the
//                                      drive and from an answer, drop= closes the connection and
//                                      answers logins to NAME with target error, service
//                                      unavailable (03h/01h) for its seconds
//
// NAME is an iSCSI name (iqn., eui. or naa.; lower case, at most 223 characters). Relative
// paths are relative to the working directory, so that a run's files land where it is started.
// A drive without serial= gets one from its place in the file.
class TargetConfig {
public:
    static constexpr size_t MaxNameLength = 223;
    // A connection may hold IscsiConnection::OutputCap of output: 1024 of them are 4 GiB, and
    // the usual descriptor limit of a process.
    static constexpr uint32_t MostConnections = 1024;
    static constexpr uint32_t MostSeconds = 3600;

    // What TargetServer allows its connections.
    struct ServerLimits {
        uint32_t MaxConnections = 64;
        uint32_t LoginTimeoutSeconds = 15;
        uint32_t NopIntervalSeconds = 30;  // 0: never pinged, never closed for silence
    };

    struct Drive : DriveSettings {
        std::string Iqn;
    };

    std::string ListenHost = "127.0.0.1";
    uint16_t ListenPort = 3260;
    std::string LogPath;
    ServerLimits Limits;
    std::vector<Drive> Drives;

    bool Parse(const std::string& text);
    bool Load(const std::string& path);
    // "line N: reason", or the reason alone for the file as a whole.
    const std::string& Error() const { return error_; }

    static bool ValidName(const std::string& name);

private:
    bool Statement(size_t line, const std::string& statement, const ConfigText::Words& words);
    bool TargetStatement(size_t line, const ConfigText::Words& words);
    bool DriveStatement(size_t line, const ConfigText::Words& words);
    // listen=HOST:PORT, HOST possibly in brackets.
    bool TakeListen(const std::string& text);
    bool Fail(size_t line, const std::string& reason);

    bool haveTarget_ = false;
    std::string error_;
};

}  // namespace emulator
