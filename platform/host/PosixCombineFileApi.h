#pragma once

#include "tools/combine/CombineFileApi.h"

// combine's files on a POSIX system.
class PosixCombineFileApi final : public CombineFileApi {
public:
    std::string Describe(std::FILE* file, Facts& facts) override;
    int ProcessId() override;
    Created CreateNew(const std::string& path, int& descriptor, std::string& error) override;
    std::string Write(int descriptor, const unsigned char* bytes, std::size_t length, std::size_t& written) override;
    std::string SetMode(int descriptor, unsigned mode) override;
    std::string Close(int descriptor) override;
    std::string Replace(const std::string& from, const std::string& to) override;
    void Remove(const std::string& path) override;
    bool SameFile(const std::string& a, const std::string& b) override;
};
