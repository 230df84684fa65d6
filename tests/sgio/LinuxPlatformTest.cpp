// The real calls of platform/linux on this machine: directories and attributes as sysfs gives
// them, nodes, SG_IO refused by a node that is no SCSI device, the back-up's file steps, and the
// alignment of the work buffers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/LinuxScsiSystem.h"
#include "platform/linux/PageAlignedBufferAllocator.h"
#include "platform/linux/PosixFileSystem.h"

namespace {

class TemporaryFolder {
public:
    TemporaryFolder() {
        char name[] = "/tmp/flashupgrade-platform-XXXXXX";
        path_ = ::mkdtemp(name) != nullptr ? name : "";
    }
    ~TemporaryFolder() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    const std::string& Path() const { return path_; }
    std::string Write(const std::string& name, const std::string& content) const {
        const std::string file = path_ + "/" + name;
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

TEST(LinuxScsiSystem, ListsAndReadsAsSysfsWouldBeRead) {
    TemporaryFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const std::string type = folder.Write("type", "5\n");
    ::mkdir((folder.Path() + "/block").c_str(), 0755);
    LinuxScsiSystem scsi;

    std::vector<std::string> names;
    ASSERT_EQ(scsi.ListDirectory(folder.Path().c_str(), names), 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"block", "type"}));
    EXPECT_EQ(scsi.ListDirectory((folder.Path() + "/none").c_str(), names), ENOENT);
    EXPECT_EQ(scsi.ListDirectory(type.c_str(), names), ENOTDIR);

    char text[16];
    size_t length = 99;
    ASSERT_EQ(scsi.ReadAttribute(type.c_str(), text, sizeof text, &length), 0);
    EXPECT_EQ(std::string(text, length), "5\n");
    // No more than the room is read.
    ASSERT_EQ(scsi.ReadAttribute(type.c_str(), text, 1, &length), 0);
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(scsi.ReadAttribute((folder.Path() + "/none").c_str(), text, sizeof text, &length), ENOENT);
}

TEST(LinuxScsiSystem, NodesOpenAndCloseWithTheirErrnoAndSgIoNeedsASgDevice) {
    LinuxScsiSystem scsi;
    int fd = -1;
    EXPECT_EQ(scsi.Open("/dev/flashupgrade-no-such-node", O_RDWR | O_NONBLOCK, &fd), ENOENT);
    ASSERT_EQ(scsi.Open("/dev/null", O_RDWR | O_NONBLOCK | O_CLOEXEC, &fd), 0);
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    const int error = scsi.SendScsi(fd, &header);
    EXPECT_TRUE(error == ENOTTY || error == EINVAL) << error;
    EXPECT_EQ(scsi.Close(fd), 0);
    EXPECT_EQ(scsi.Close(fd), EBADF);
}

TEST(LinuxScsiSystem, StatFollowsLinksToTheDeviceNumber) {
    LinuxScsiSystem scsi;
    mode_t type = 0;
    dev_t device = 0;
    // /dev/null is character device 1:3 on every Linux; /proc/self/fd/N links to what N is.
    ASSERT_EQ(scsi.Stat("/dev/null", &type, &device), 0);
    EXPECT_EQ(type, static_cast<mode_t>(S_IFCHR));
    EXPECT_EQ(device, makedev(1, 3));
    int fd = -1;
    ASSERT_EQ(scsi.Open("/dev/null", O_RDONLY | O_CLOEXEC, &fd), 0);
    dev_t linked = 0;
    EXPECT_EQ(scsi.Stat(("/proc/self/fd/" + std::to_string(fd)).c_str(), &type, &linked), 0);
    EXPECT_EQ(linked, device);
    scsi.Close(fd);
    EXPECT_EQ(scsi.Stat("/proc", &type, &device), 0);
    EXPECT_EQ(type, static_cast<mode_t>(S_IFDIR));
    EXPECT_EQ(scsi.Stat("/dev/flashupgrade-no-such-node", &type, &device), ENOENT);
}

TEST(LinuxScsiSystem, PrivilegeIsTheEffectiveRawIoCapability) {
    std::ifstream status("/proc/self/status");
    std::string line;
    uint64_t effective = 0;
    bool found = false;
    while (std::getline(status, line)) {
        if (line.compare(0, 7, "CapEff:") == 0) {
            effective = std::strtoull(line.c_str() + 7, nullptr, 16);
            found = true;
        }
    }
    if (!found) GTEST_SKIP() << "no /proc/self/status";
    LinuxScsiSystem scsi;
    EXPECT_EQ(scsi.MaySendAnyCommand(), ((effective >> 17) & 1) != 0);
}

TEST(PosixFileSystem, ATemporaryFileBesideTheTargetBecomesItWhole) {
    TemporaryFolder folder;
    const std::string target = folder.Path() + "/old.bin";
    folder.Write("old.bin", "previous");
    PosixFileSystem files;

    std::string temporary;
    int fd = -1;
    ASSERT_EQ(files.CreateTemporary(target, temporary, &fd), 0);
    EXPECT_EQ(temporary.compare(0, target.size() + 1, target + "."), 0) << temporary;
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(files.WriteAll(fd, bytes, sizeof bytes), 0);
    EXPECT_EQ(files.Sync(fd), 0);
    EXPECT_EQ(files.Close(fd), 0);
    EXPECT_EQ(ReadFile(target), "previous");   // untouched until the rename
    EXPECT_EQ(files.Rename(temporary.c_str(), target.c_str()), 0);
    EXPECT_EQ(files.SyncFolderOf(target.c_str()), 0);
    EXPECT_EQ(ReadFile(target), std::string("\x01\x02\x03\x04\x05"));
    uint64_t length = 0;
    bool regular = false;
    EXPECT_EQ(files.Examine(target.c_str(), &length, &regular), 0);
    EXPECT_EQ(length, 5u);
    EXPECT_TRUE(regular);
    EXPECT_EQ(files.Examine(folder.Path().c_str(), &length, &regular), 0);
    EXPECT_FALSE(regular);
    EXPECT_NE(::access(temporary.c_str(), F_OK), 0);
}

TEST(PosixFileSystem, FailuresAreTheirErrno) {
    TemporaryFolder folder;
    PosixFileSystem files;
    const std::string missing = folder.Path() + "/none/old.bin";
    uint64_t length = 0;
    bool regular = false;
    std::string temporary;
    int fd = -1;
    EXPECT_EQ(files.Examine(missing.c_str(), &length, &regular), ENOENT);
    EXPECT_EQ(files.CreateTemporary(missing, temporary, &fd), ENOENT);
    EXPECT_EQ(files.Remove(missing.c_str()), ENOENT);
    EXPECT_EQ(files.SyncFolderOf(missing.c_str()), ENOENT);
    EXPECT_EQ(files.Rename(missing.c_str(), (folder.Path() + "/x").c_str()), ENOENT);
}

TEST(PageAlignedBufferAllocator, BuffersStartOnAPage) {
    PageAlignedBufferAllocator buffers;
    for (size_t size : {size_t{1}, size_t{16384}, size_t{131072}}) {
        uint8_t* buffer = buffers.Obtain(size);
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer) % 4096, 0u);
        buffer[size - 1] = 0xA5;
        buffers.Release(buffer);
    }
}

}  // namespace
