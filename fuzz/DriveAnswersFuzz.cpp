// The judges of the INQUIRY and identity answers on answers of any bytes and any length. A refused
// answer must leave the record as it was, and an accepted one may only fill what the judge owns.
#include <cstring>

#include "fuzz/FuzzInput.h"
#include "transport/DriveCommandSet.h"
#include "transport/DeviceRecord.h"

namespace {

// A record whose every byte is set, so that a stray write of any value shows.
DeviceRecord Prefilled(uint8_t seed) {
    DeviceRecord record;
    std::memset(&record, seed | 0x80, sizeof record);
    return record;
}

bool SameBytes(const DeviceRecord& a, const DeviceRecord& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool KnownController(uint16_t id) {
    for (uint16_t known : DriveCommandSet::ControllerIds) {
        if (id == known) return true;
    }
    return false;
}

void JudgeInquiry(const uint8_t* answer, size_t length, uint8_t seed) {
    const DeviceRecord before = Prefilled(seed);
    DeviceRecord record = before;
    if (!DriveCommandSet::AcceptInquiry(answer, length, record)) {
        FUZZ_CHECK(SameBytes(record, before));
        return;
    }
    FUZZ_CHECK(length >= DriveCommandSet::InquiryBytesRead);
    FUZZ_CHECK((answer[0] & 0x1F) == DriveCommandSet::CdRomDeviceType);
    FUZZ_CHECK(std::memcmp(record.Vendor, answer + 8, 8) == 0);
    FUZZ_CHECK(std::memcmp(record.Product, answer + 16, 16) == 0);
    // Only the texts change; their terminators and every other field stay.
    DeviceRecord rest = record;
    std::memcpy(rest.Vendor, before.Vendor, 8);
    std::memcpy(rest.Product, before.Product, 16);
    FUZZ_CHECK(SameBytes(rest, before));
}

void JudgeIdentity(const uint8_t* answer, size_t length, uint8_t seed) {
    const DeviceRecord before = Prefilled(seed);
    DeviceRecord record = before;
    if (!DriveCommandSet::AcceptIdentity(answer, length, record)) {
        FUZZ_CHECK(SameBytes(record, before));
        return;
    }
    FUZZ_CHECK(length >= DriveCommandSet::IdentityBytesRead);
    FUZZ_CHECK((answer[0] | answer[1] << 8) == DriveCommandSet::MakerWord);
    FUZZ_CHECK(KnownController(record.ControllerId));
    FUZZ_CHECK(record.FlashSize != 0);
    // Identity fills the controller, version and size fields; the place and texts are not its own.
    FUZZ_CHECK(std::memcmp(&record, &before, offsetof(DeviceRecord, ControllerId)) == 0);
    FUZZ_CHECK(std::memcmp(record.Vendor, before.Vendor, sizeof record - offsetof(DeviceRecord, Vendor)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The judges get the bytes after the selector in place, so a read past the answer's end hits
    // the end of the fuzzer's buffer.
    const uint8_t selector = data[0];
    const uint8_t* answer = data + 1;
    const size_t length = size - 1;
    if (selector & 1) {
        JudgeIdentity(answer, length, selector);
    } else {
        JudgeInquiry(answer, length, selector);
    }
    return 0;
}
