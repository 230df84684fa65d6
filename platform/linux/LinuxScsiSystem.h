#pragma once

#include "transport/LinuxScsiApi.h"

// The real calls behind the SG_IO transport's seam: sysfs through opendir and read, the device
// nodes through open, SG_IO through ioctl. Nothing is retried but an interrupted call.
class LinuxScsiSystem final : public LinuxScsiApi {
public:
    int ListDirectory(const char* path, std::vector<std::string>& names) override;
    int ReadAttribute(const char* path, char* text, size_t room, size_t* length) override;
    int Open(const char* path, int flags, int* fd) override;
    int Stat(const char* path, mode_t* type, dev_t* device) override;
    int SendScsi(int fd, sg_io_hdr_t* header) override;
    int Close(int fd) override;
    bool MaySendAnyCommand() override;
};
