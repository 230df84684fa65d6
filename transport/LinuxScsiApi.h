#pragma once

#include <scsi/sg.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

// The Linux SCSI stack as the SG_IO transport reaches it: the SCSI devices of sysfs and their
// attributes, device nodes, the SG_IO ioctl. One operation per system call, with that call's
// arguments; every result is 0 or the errno the call failed with, so that the transport can tell
// the environment (permissions, a busy or vanished drive) from a drive's answer. Nothing here
// owns a descriptor: whoever opens one closes it.
class LinuxScsiApi {
public:
    // The names in a directory, "." and ".." left out, in no particular order.
    virtual int ListDirectory(const char* path, std::vector<std::string>& names) = 0;
    // A small attribute file (sysfs): at most ROOM bytes into TEXT, their number into *length.
    virtual int ReadAttribute(const char* path, char* text, size_t room, size_t* length) = 0;
    // open(2) with FLAGS (O_RDWR, O_NONBLOCK, O_EXCL ...); the descriptor into *fd.
    virtual int Open(const char* path, int flags, int* fd) = 0;
    // stat(2) of PATH, links followed: its file type (S_IFBLK, S_IFCHR, S_IFREG ..., the
    // st_mode bits of S_IFMT) into *type and, for a device node, its device number into *device.
    virtual int Stat(const char* path, mode_t* type, dev_t* device) = 0;
    // ioctl(fd, SG_IO, header): 0 when the command went through the kernel, whatever the drive
    // answered; the outcome is in the header's status fields.
    virtual int SendScsi(int fd, sg_io_hdr_t* header) = 0;
    virtual int Close(int fd) = 0;
    // Whether this process holds CAP_SYS_RAWIO: without it the block layer refuses every command
    // that is not on its list of harmless ones (firmware download is not) sent through a block node.
    virtual bool MaySendAnyCommand() = 0;

protected:
    ~LinuxScsiApi() = default;
};
