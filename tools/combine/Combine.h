#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CombineFileApi;

// Copies a program with its firmware slot filled: the version text, the image's checksum and
// the image itself. Refuses anything that would leave a program with a slot it cannot use, and
// then leaves the output file as it was.
class Combine {
public:
    struct Request {
        std::string image;
        std::string version;
        std::string output;
        std::string program;
    };

    struct Result {
        bool ok;
        std::string message;  // what was written, or why nothing was
    };

    struct Filled {
        bool ok;
        std::string reason;      // when !ok; names the program as programName
        std::uint16_t checksum;  // of the image, when ok
    };

    // Files larger than this are refused rather than read.
    static constexpr std::uint64_t MaxProgramSize = 256u * 1024 * 1024;

    // Reads, fills and writes through files.
    static Result Run(const Request& request, CombineFileApi& files);

    // The in-memory part of Run: fills the one slot of program.
    static Filled FillSlot(std::vector<unsigned char>& program, const std::vector<unsigned char>& image,
                           const std::string& version, const std::string& programName);
};
