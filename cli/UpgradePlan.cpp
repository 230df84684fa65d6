#include "cli/UpgradePlan.h"

namespace {

// Decimal digits only, at most five of them (a 16-bit version field).
bool ParseNumber(const std::string& text, uint32_t& number) {
    if (text.empty() || text.size() > 5) return false;
    number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<uint32_t>(c - '0');
    }
    return true;
}

}  // namespace

UpgradePlan::UpgradePlan(const Facts& facts) : facts_(facts) {
    int order = 0;
    const bool judged = CompareVersions(facts.ImageVersion, facts.DriveMajor, facts.DriveMinor, order);
    if (facts.DifferingChunks == 0) {
        decision_ = facts.Force ? Decision::Again : Decision::Unchanged;
    } else if (judged && order < 0) {
        decision_ = facts.Force || facts.AllowOlder ? Decision::Older : Decision::RefusedOlder;
    } else if (judged && order == 0) {
        decision_ = Decision::Repair;
    }
}

bool UpgradePlan::CompareVersions(const std::string& text, uint16_t major, uint16_t minor, int& order) {
    const size_t dot = text.find('.');
    uint32_t textMajor = 0;
    uint32_t textMinor = 0;
    if (dot == std::string::npos || !ParseNumber(text.substr(0, dot), textMajor) ||
        !ParseNumber(text.substr(dot + 1), textMinor)) {
        return false;
    }
    const uint64_t mine = (uint64_t{textMajor} << 32) | textMinor;
    const uint64_t theirs = (uint64_t{major} << 32) | minor;
    order = mine < theirs ? -1 : mine > theirs ? 1 : 0;
    return true;
}

std::string UpgradePlan::DriveVersion() const {
    return std::to_string(facts_.DriveMajor) + "." + std::to_string(facts_.DriveMinor);
}

std::string UpgradePlan::Line(const std::string& subject) const {
    const std::string image = facts_.ImageVersion;
    const std::string held = subject + " already holds this image (version " + image;
    // A drive that holds the image but reports another version has not restarted since it got it.
    int order = 0;
    const bool sameVersion = CompareVersions(image, facts_.DriveMajor, facts_.DriveMinor, order) && order == 0;
    const std::string reports = sameVersion ? std::string()
                                            : "; it reports version " + DriveVersion() + " until it restarts";
    const std::string newer = subject + " runs version " + DriveVersion() + ", newer than image version " + image;
    switch (decision_) {
    case Decision::Unchanged: return held + reports + "): nothing written.";
    case Decision::Again: return held + reports + "): written again, as asked (--force)";
    case Decision::RefusedOlder:
        return newer + ": nothing written; add --allow-older to write the older image";
    case Decision::Older:
        return newer + ": the older image is written, as asked (" +
               (facts_.AllowOlder ? "--allow-older" : "--force") + ")";
    case Decision::Repair:
        return subject + " reports version " + DriveVersion() + ", the image's, but its flash differs from image version " +
               image + " in " + std::to_string(facts_.DifferingChunks) + " of " + std::to_string(facts_.Chunks) +
               " chunks: the image is written again";
    case Decision::Write: break;
    }
    return std::string();
}
