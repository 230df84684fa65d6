#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// What combine asks of the system's files beyond standard C streams, one call per system call it
// stands for. Errors come back as the system's own text ("" for none), because combine prints
// them as they are.
class CombineFileApi {
public:
    struct Facts {
        bool regular;        // a regular file, not a directory, device or pipe
        std::uint64_t size;  // in bytes
        unsigned mode;       // permission bits, where files have them
    };

    enum class Created { Ok, NameTaken, Failed };

    virtual ~CombineFileApi() = default;

    // What an open stream is (fstat).
    virtual std::string Describe(std::FILE* file, Facts& facts) = 0;

    // Tells combine's temporary files apart from another combine's beside the same output.
    virtual int ProcessId() = 0;

    // Creates path for writing, only when no file has that name yet. descriptor is set when Ok.
    virtual Created CreateNew(const std::string& path, int& descriptor, std::string& error) = 0;

    // One write call: it may write less than length; written is set when the answer is "".
    virtual std::string Write(int descriptor, const unsigned char* bytes, std::size_t length,
                              std::size_t& written) = 0;

    // Gives the open file the permission bits mode, where files have them.
    virtual std::string SetMode(int descriptor, unsigned mode) = 0;

    virtual std::string Close(int descriptor) = 0;

    // Gives the file from the name to, replacing a file of that name.
    virtual std::string Replace(const std::string& from, const std::string& to) = 0;

    virtual void Remove(const std::string& path) = 0;

    // Whether both names exist and are one file, however they are spelt.
    virtual bool SameFile(const std::string& a, const std::string& b) = 0;
};

// The files of the system combine is built for.
CombineFileApi& SystemCombineFileApi();
