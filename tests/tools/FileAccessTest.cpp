#include "FileAccess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Files in memory that log every call and fail where told.
class ScriptedFiles final : public CombineFileApi {
public:
    int namesTaken = 0;            // CreateNew finds this many names taken before one is free
    std::string createError;       // CreateNew fails with this
    std::size_t writeLimit = 0;    // bytes one Write takes at most, 0 for all
    int failingWrite = -1;         // the Write call (from 0) that fails
    bool writesNothing = false;    // Write answers success with nothing written
    std::string modeError, closeError, replaceError;
    Facts facts{true, 0, 0644};
    std::string describeError;

    std::string log;
    Bytes file;  // what the temporary file received

    std::string Describe(std::FILE*, Facts& out) override {
        out = facts;
        return describeError;
    }
    int ProcessId() override { return 42; }
    Created CreateNew(const std::string& path, int& descriptor, std::string& error) override {
        log += "create " + path + "; ";
        if (!createError.empty()) {
            error = createError;
            return Created::Failed;
        }
        if (namesTaken-- > 0) return Created::NameTaken;
        descriptor = 7;
        return Created::Ok;
    }
    std::string Write(int descriptor, const unsigned char* bytes, std::size_t length, std::size_t& written) override {
        log += "write " + std::to_string(descriptor) + " " + std::to_string(length) + "; ";
        if (writes_++ == failingWrite) return "No space left on device";
        written = writesNothing ? 0 : writeLimit != 0 && length > writeLimit ? writeLimit : length;
        file.insert(file.end(), bytes, bytes + written);
        return "";
    }
    std::string SetMode(int descriptor, unsigned mode) override {
        char text[32];
        std::snprintf(text, sizeof text, "mode %d %o; ", descriptor, mode);
        log += text;
        return modeError;
    }
    std::string Close(int descriptor) override {
        log += "close " + std::to_string(descriptor) + "; ";
        return closeError;
    }
    std::string Replace(const std::string& from, const std::string& to) override {
        log += "replace " + from + " " + to + "; ";
        return replaceError;
    }
    void Remove(const std::string& path) override { log += "remove " + path + "; "; }
    bool SameFile(const std::string&, const std::string&) override { return false; }

private:
    int writes_ = 0;
};

Bytes Pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + i / 251);
    return bytes;
}

TEST(FileAccess, WriteReplacingSteps) {
    const std::string t0 = "out.combine-42-0.tmp";
    struct Case {
        const char* name;
        void (*script)(ScriptedFiles&);
        std::size_t size;
        std::string error;
        std::string log;
    };
    const std::vector<Case> cases = {
        {"in chunks of 1 MiB", [](ScriptedFiles&) {}, 2621440, "",
         "create " + t0 + "; write 7 1048576; write 7 1048576; write 7 524288; mode 7 755; close 7; replace " + t0 +
             " out; "},
        {"short writes go on where they stopped", [](ScriptedFiles& f) { f.writeLimit = 1048575; }, 1048577, "",
         "create " + t0 + "; write 7 1048576; write 7 2; mode 7 755; close 7; replace " + t0 + " out; "},
        {"nothing to write", [](ScriptedFiles&) {}, 0, "",
         "create " + t0 + "; mode 7 755; close 7; replace " + t0 + " out; "},
        {"taken names are passed over", [](ScriptedFiles& f) { f.namesTaken = 2; }, 10, "",
         "create out.combine-42-0.tmp; create out.combine-42-1.tmp; create out.combine-42-2.tmp; write 7 10; "
         "mode 7 755; close 7; replace out.combine-42-2.tmp out; "},
        {"a failed create ends the search", [](ScriptedFiles& f) { f.createError = "Permission denied"; }, 10,
         "Permission denied", "create " + t0 + "; "},
        {"a failed write", [](ScriptedFiles& f) { f.failingWrite = 1; }, 1048577, "No space left on device",
         "create " + t0 + "; write 7 1048576; write 7 1; close 7; remove " + t0 + "; "},
        {"a write of nothing", [](ScriptedFiles& f) { f.writesNothing = true; }, 10, "nothing written",
         "create " + t0 + "; write 7 10; close 7; remove " + t0 + "; "},
        {"permissions refused", [](ScriptedFiles& f) { f.modeError = "Operation not permitted"; }, 10,
         "Operation not permitted", "create " + t0 + "; write 7 10; mode 7 755; close 7; remove " + t0 + "; "},
        {"a failed close", [](ScriptedFiles& f) { f.closeError = "Input/output error"; }, 10, "Input/output error",
         "create " + t0 + "; write 7 10; mode 7 755; close 7; remove " + t0 + "; "},
        {"a failed replace", [](ScriptedFiles& f) { f.replaceError = "Access is denied"; }, 10, "Access is denied",
         "create " + t0 + "; write 7 10; mode 7 755; close 7; replace " + t0 + " out; remove " + t0 + "; "},
    };
    for (const Case& c : cases) {
        ScriptedFiles files;
        c.script(files);
        const Bytes bytes = Pattern(c.size);
        EXPECT_EQ(FileAccess(files).WriteReplacing("out", bytes, 0755), c.error) << c.name;
        EXPECT_EQ(files.log, c.log) << c.name;
        if (c.error.empty()) {
            EXPECT_TRUE(files.file == bytes) << c.name;
        }
    }
}

TEST(FileAccess, WriteReplacingGivesUpAfterAHundredNames) {
    ScriptedFiles files;
    files.namesTaken = 100;
    EXPECT_EQ(FileAccess(files).WriteReplacing("out", Pattern(10), 0644), "no free temporary file name");
    std::size_t creates = 0;
    for (std::size_t at = files.log.find("create "); at != std::string::npos; at = files.log.find("create ", at + 1))
        ++creates;
    EXPECT_EQ(creates, 100u);
    EXPECT_NE(files.log.find("create out.combine-42-99.tmp; "), std::string::npos);
    EXPECT_EQ(files.log.find("write"), std::string::npos);
    EXPECT_EQ(files.log.find("close"), std::string::npos);

    ScriptedFiles lastFree;
    lastFree.namesTaken = 99;
    EXPECT_EQ(FileAccess(lastFree).WriteReplacing("out", Pattern(10), 0644), "");
}

TEST(FileAccess, ReadWholeJudgesWhatTheSystemSays) {
    const std::string path = ::testing::TempDir() + "combine-read-whole.bin";
    const Bytes content = Pattern(1000);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), out), content.size());
    ASSERT_EQ(std::fclose(out), 0);

    using Status = FileAccess::Read::Status;
    struct Case {
        const char* name;
        CombineFileApi::Facts facts;
        std::string describeError;
        std::uint64_t maxSize;
        Status status;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"whole", {true, 1000, 0755}, "", 1000, Status::Ok, ""},
        {"larger than allowed", {true, 1000, 0755}, "", 999, Status::TooLarge, ""},
        {"shrank after the size was taken", {true, 1001, 0755}, "", 2000, Status::Failed, "file changed while reading"},
        {"grew after the size was taken", {true, 999, 0755}, "", 2000, Status::Failed, "file changed while reading"},
        {"not a regular file", {false, 1000, 0755}, "", 2000, Status::Failed, "not a regular file"},
        {"not described", {true, 1000, 0755}, "Bad file descriptor", 2000, Status::Failed, "Bad file descriptor"},
    };
    for (const Case& c : cases) {
        ScriptedFiles files;
        files.facts = c.facts;
        files.describeError = c.describeError;
        Bytes bytes;
        const FileAccess::Read read = FileAccess(files).ReadWhole(path, c.maxSize, bytes);
        EXPECT_EQ(read.status, c.status) << c.name;
        EXPECT_EQ(read.error, c.error) << c.name;
        if (c.status == Status::Ok) {
            EXPECT_TRUE(bytes == content) << c.name;
            EXPECT_EQ(read.mode, 0755u) << c.name;
        }
        if (c.status == Status::TooLarge) {
            EXPECT_EQ(read.size, 1000u) << c.name;
            EXPECT_TRUE(bytes.empty()) << c.name;
        }
    }
    std::remove(path.c_str());
}

}  // namespace
