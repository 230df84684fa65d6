#include "tests/support/FakeFileApi.h"

#include <algorithm>

FileApi::Handle FakeFileApi::OpenForWriting(const char* path) {
    ++Opens;
    const std::string name = path != nullptr ? path : "";
    // An empty name names no file, and a file is shared with nobody.
    if (FailOpen || name.empty() || open_.count(name) != 0) return InvalidHandle;
    Files[name];   // created when missing, kept as it is otherwise
    open_.insert(name);
    handles_.push_back(name);
    return static_cast<Handle>(handles_.size());
}

std::vector<uint8_t>* FakeFileApi::FileOf(Handle file) {
    if (file <= 0 || static_cast<size_t>(file) > handles_.size()) return nullptr;
    const std::string& name = handles_[static_cast<size_t>(file) - 1];
    if (open_.count(name) == 0) return nullptr;
    return &Files[name];
}

int FakeFileApi::GetLength(Handle file, uint64_t* length) {
    std::vector<uint8_t>* content = FileOf(file);
    if (content == nullptr || FailLength) return 0;
    *length = content->size();
    return 1;
}

int FakeFileApi::Truncate(Handle file) {
    ++Truncates;
    std::vector<uint8_t>* content = FileOf(file);
    if (content == nullptr || FailTruncate) return 0;
    content->clear();
    return 1;
}

int FakeFileApi::WriteFromStart(Handle file, const uint8_t* bytes, uint32_t length) {
    ++Writes;
    std::vector<uint8_t>* content = FileOf(file);
    if (content == nullptr || FailWrite) return 0;
    size_t fits = length;
    if (DiskRoom >= 0) fits = std::min<size_t>(length, static_cast<size_t>(DiskRoom));
    if (content->size() < fits) content->resize(fits);
    std::copy(bytes, bytes + fits, content->begin());
    return fits == length ? 1 : 0;
}

void FakeFileApi::Close(Handle file) {
    ++Closes;
    if (file <= 0 || static_cast<size_t>(file) > handles_.size()) return;
    open_.erase(handles_[static_cast<size_t>(file) - 1]);
}
