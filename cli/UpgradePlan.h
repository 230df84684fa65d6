#pragma once

#include <cstdint>
#include <string>

// Whether an upgrade writes, decided after the drive's flash was read and compared with the
// image. The flash decides whether the drive already holds the image: a drive may go on
// reporting its old version until it restarts. The versions decide only whether the image is
// older than the firmware the drive runs, and only when the image's version is "X.Y".
class UpgradePlan {
public:
    enum class Decision {
        Unchanged,     // the flash equals the image: nothing to write
        Write,         // the image is newer than what the drive runs, or no judgement was possible
        Repair,        // the drive reports the image's version, but its flash differs
        Again,         // the flash equals the image: written again all the same (--force)
        Older,         // the drive runs a newer version: written all the same (--allow-older, --force)
        RefusedOlder,  // the drive runs a newer version: not written
    };

    struct Facts {
        uint32_t DifferingChunks;   // the image's chunks that the flash does not hold
        uint32_t Chunks;            // all of the image's chunks
        uint16_t DriveMajor;        // the version the drive reported
        uint16_t DriveMinor;
        std::string ImageVersion;   // the image's version text
        bool Force;
        bool AllowOlder;
    };

    explicit UpgradePlan(const Facts& facts);

    Decision Decided() const { return decision_; }
    bool Writes() const { return decision_ != Decision::Unchanged && decision_ != Decision::RefusedOlder; }
    // What was decided and why, as one line about SUBJECT ("Drive 1"); empty for a plain Write.
    std::string Line(const std::string& subject) const;

    // Compares a version text "X.Y" (decimal numbers) with MAJOR.MINOR, by number: ORDER is
    // below 0 when the text is the older, 0 when they are the same, above 0 when it is the
    // newer. False when TEXT is no "X.Y".
    static bool CompareVersions(const std::string& text, uint16_t major, uint16_t minor, int& order);

private:
    std::string DriveVersion() const;

    Facts facts_;
    Decision decision_ = Decision::Write;
};
