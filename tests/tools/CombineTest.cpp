#include "Combine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SyntheticExecutable.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr std::size_t SlotAt = SyntheticExecutable::PayloadOffset + 32;  // slot after locator
constexpr std::uint32_t Progbits = 1;
constexpr std::uint64_t AllocWrite = 3;

Bytes Image() {
    Bytes image(131072, 0);
    for (std::size_t i = 0; i < 16; ++i) image[i] = 0xFF;  // sums to 0x0FF0
    image[131071] = 0x01;                                  // and the last byte counts: 0x0FF1
    return image;
}

Bytes ElfProgram() {
    return SyntheticExecutable::Elf(true, Progbits, AllocWrite, SyntheticExecutable::UnfilledSlot());
}

TEST(CombineFillSlot, WritesHeadAndImage) {
    struct Case {
        const char* name;
        Bytes program;
        std::string version;
        Bytes head;  // the 32 bytes expected at the slot
    };
    const Bytes pe = SyntheticExecutable::Pe(131584, 131136, SyntheticExecutable::UnfilledSlot());
    Bytes head110 = {'1', '.', '1', '0', 0, '0', 'F', 'F', '1', 0};
    head110.resize(32, 0);
    Bytes head7 = {'7', 0, 0, 0, 0, '0', 'F', 'F', '1', 0};
    head7.resize(32, 0);
    const std::vector<Case> cases = {
        {"ELF, version of four", ElfProgram(), "1.10", head110},
        {"PE, version of one", pe, "7", head7},
    };
    for (const Case& c : cases) {
        Bytes program = c.program;
        const Combine::Filled filled = Combine::FillSlot(program, Image(), c.version, "prog");
        ASSERT_TRUE(filled.ok) << c.name << ": " << filled.reason;
        EXPECT_EQ(filled.checksum, 0x0FF1) << c.name;
        EXPECT_EQ(Bytes(program.begin() + SlotAt, program.begin() + SlotAt + 32), c.head) << c.name;
        EXPECT_EQ(Bytes(program.begin() + SlotAt + 32, program.begin() + SlotAt + 32 + 131072), Image()) << c.name;
        // Nothing outside the slot moves.
        EXPECT_EQ(Bytes(program.begin(), program.begin() + SlotAt), Bytes(c.program.begin(), c.program.begin() + SlotAt))
            << c.name;
        EXPECT_EQ(Bytes(program.begin() + SlotAt + 32 + 131072, program.end()),
                  Bytes(c.program.begin() + SlotAt + 32 + 131072, c.program.end()))
            << c.name;
    }
}

// The program checks the image file before FillSlot; the other refusals run through the
// program in slot-e2e.sh.
TEST(CombineFillSlot, RefusesImageOfWrongSize) {
    for (std::size_t size : {131071u, 131073u}) {
        Bytes program = ElfProgram();
        const Combine::Filled filled = Combine::FillSlot(program, Bytes(size, 0), "1.10", "prog");
        EXPECT_FALSE(filled.ok);
        EXPECT_EQ(filled.reason, "image is " + std::to_string(size) + " bytes; it must be 131072");
        EXPECT_EQ(program, ElfProgram());
    }
}

}  // namespace
