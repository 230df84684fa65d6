#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/iscsi/CdbShape.h"
#include "emulator/iscsi/Crc32c.h"
#include "emulator/iscsi/Pdu.h"
#include "emulator/iscsi/PduReader.h"
#include "emulator/iscsi/SessionParameters.h"
#include "emulator/iscsi/TextKeys.h"

using emulator::CdbShape;
using emulator::Crc32c;
using emulator::Pdu;
using emulator::PduReader;
using emulator::SessionParameters;
using emulator::TextKeys;
using Bytes = std::vector<uint8_t>;

namespace {

// The check values the iSCSI RFCs publish for CRC32C.
TEST(Crc32cTest, MatchesThePublishedExamples) {
    struct Case { const char* name; Bytes data; uint32_t crc; };
    Bytes zeros(32, 0x00), ones(32, 0xFF), up(32), down(32);
    for (int i = 0; i < 32; ++i) {
        up[i] = static_cast<uint8_t>(i);
        down[i] = static_cast<uint8_t>(31 - i);
    }
    const Case cases[] = {
        {"zeros", zeros, 0x8A9136AAu},
        {"ones", ones, 0x62A8AB43u},
        {"incrementing", up, 0x46DD794Eu},
        {"decrementing", down, 0x113FDB5Cu},
        {"123456789", Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0xE3069283u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Crc32c::Compute(c.data.data(), c.data.size()), c.crc) << c.name;
        // Extending in two pieces gives the same as one pass.
        const size_t half = c.data.size() / 2;
        EXPECT_EQ(Crc32c::Extend(Crc32c::Compute(c.data.data(), half), c.data.data() + half, c.data.size() - half), c.crc)
            << c.name;
    }
}

TEST(PduTest, EncodesPaddingAndDigestsLeastSignificantByteFirst) {
    Pdu pdu = Pdu::Make(Pdu::NopIn, 0x80);
    pdu.data = {1, 2, 3, 4, 5};
    Bytes wire;
    pdu.Encode(true, true, wire);
    ASSERT_EQ(wire.size(), 48u + 4 + 8 + 4);
    EXPECT_EQ(wire[0], 0x20);
    EXPECT_EQ(wire[5], 0x00);
    EXPECT_EQ(wire[6], 0x00);
    EXPECT_EQ(wire[7], 0x05);  // length without the padding
    const uint32_t hd = Crc32c::Compute(wire.data(), 48);
    EXPECT_EQ(wire[48], hd & 0xFF);
    EXPECT_EQ(wire[51], hd >> 24);
    EXPECT_EQ(Bytes(wire.begin() + 52, wire.begin() + 60), (Bytes{1, 2, 3, 4, 5, 0, 0, 0}));
    const uint32_t dd = Crc32c::Compute(wire.data() + 52, 8);
    EXPECT_EQ(wire[60], dd & 0xFF);
    EXPECT_EQ(wire[63], dd >> 24);

    Bytes plain;
    Pdu empty = Pdu::Make(Pdu::NopIn, 0x80);
    empty.Encode(false, true, plain);
    EXPECT_EQ(plain.size(), 48u) << "no data digest without data";
}

Bytes Wire(uint8_t opcode, const Bytes& data, uint8_t ahsWords = 0, bool hd = false, bool dd = false) {
    Pdu pdu = Pdu::Make(opcode, 0x80);
    pdu.data = data;
    Bytes wire;
    pdu.Encode(hd, dd, wire);
    if (ahsWords != 0) {
        wire[4] = ahsWords;
        wire.insert(wire.begin() + 48, static_cast<size_t>(ahsWords) * 4, 0xAB);
    }
    return wire;
}

TEST(PduReaderTest, CutsTheStreamWhateverTheReadSizes) {
    Bytes stream = Wire(Pdu::NopOut, {9, 8, 7});
    const Bytes second = Wire(Pdu::ScsiCommand, {}, 2);  // with 8 bytes of additional header
    const Bytes third = Wire(Pdu::TextRequest, Bytes(8, 0x41));
    stream.insert(stream.end(), second.begin(), second.end());
    stream.insert(stream.end(), third.begin(), third.end());
    for (size_t step : {size_t{1}, size_t{3}, size_t{47}, size_t{48}, stream.size()}) {
        PduReader reader;
        std::vector<Pdu> got;
        for (size_t at = 0; at < stream.size(); at += step) {
            reader.Feed(stream.data() + at, std::min(step, stream.size() - at));
            Pdu pdu;
            while (reader.Next(pdu) == PduReader::Result::Complete) got.push_back(pdu);
        }
        ASSERT_EQ(got.size(), 3u) << "step " << step;
        EXPECT_EQ(got[0].Opcode(), Pdu::NopOut);
        EXPECT_EQ(got[0].data, (Bytes{9, 8, 7}));
        EXPECT_EQ(got[1].Opcode(), Pdu::ScsiCommand);
        EXPECT_TRUE(got[1].data.empty());
        EXPECT_EQ(got[2].data, Bytes(8, 0x41));
        EXPECT_EQ(reader.Buffered(), 0u);
    }
}

TEST(PduReaderTest, ReportsDigestErrorsAndOverlongSegments) {
    struct Case {
        const char* name;
        bool hd, dd;
        size_t corruptAt;  // 0: nothing
        uint32_t limit;
        PduReader::Result first;
        bool nextIsComplete;  // the PDU after it still reads
    };
    const Case cases[] = {
        {"digests good", true, true, 0, 8192, PduReader::Result::Complete, true},
        {"header bit flipped", true, true, 10, 8192, PduReader::Result::HeaderDigestError, false},
        {"header digest flipped", true, false, 49, 8192, PduReader::Result::HeaderDigestError, false},
        {"data flipped", true, true, 53, 8192, PduReader::Result::DataDigestError, true},
        {"data digest flipped", false, true, 58, 8192, PduReader::Result::DataDigestError, true},
        {"over the limit", false, false, 0, 4, PduReader::Result::TooLong, false},
        {"at the limit", false, false, 0, 5, PduReader::Result::Complete, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes stream = Wire(Pdu::NopOut, {1, 2, 3, 4, 5}, 0, c.hd, c.dd);
        if (c.corruptAt != 0) stream[c.corruptAt] ^= 0x01;
        const Bytes next = Wire(Pdu::NopOut, {}, 0, c.hd, c.dd);
        stream.insert(stream.end(), next.begin(), next.end());
        PduReader reader;
        reader.SetDigests(c.hd, c.dd);
        reader.SetMaxDataSegment(c.limit);
        reader.Feed(stream.data(), stream.size());
        Pdu pdu;
        EXPECT_EQ(reader.Next(pdu), c.first);
        if (c.nextIsComplete) {
            EXPECT_EQ(reader.Next(pdu), PduReader::Result::Complete);
        }
    }
}

TEST(TextKeysTest, ParsesPairsAndRefusesMalformedOnes) {
    struct Case { const char* name; std::string text; bool ok; size_t pairs; };
    const Case cases[] = {
        {"two pairs", std::string("A=1\0B=two\0", 10), true, 2},
        {"empty value", std::string("A=\0", 3), true, 1},
        {"last without NUL", std::string("A=1\0B=2", 7), true, 2},
        {"padding NULs", std::string("A=1\0\0\0", 6), true, 1},
        {"no equals", std::string("A1\0", 3), false, 0},
        {"empty key", std::string("=1\0", 3), false, 0},
        {"key of 64", std::string(64, 'k') + std::string("=1\0", 3), false, 0},
        {"key of 63", std::string(63, 'k') + std::string("=1\0", 3), true, 1},
        {"value with equals", std::string("A=b=c\0", 6), true, 1},
    };
    for (const Case& c : cases) {
        TextKeys::Pairs pairs;
        const Bytes data(c.text.begin(), c.text.end());
        EXPECT_EQ(TextKeys::Parse(data, pairs), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(pairs.size(), c.pairs) << c.name;
        }
    }
    TextKeys::Pairs pairs;
    ASSERT_TRUE(TextKeys::Parse(Bytes{'A', '=', 'b', '=', 'c', 0}, pairs));
    EXPECT_EQ(pairs[0].second, "b=c");
}

TEST(SessionParametersTest, NegotiatesEachKeyByItsRule) {
    using O = SessionParameters::Outcome;
    struct Case { const char* key; const char* offer; O outcome; const char* answer; };
    const Case cases[] = {
        {"HeaderDigest", "None,CRC32C", O::Answer, "None"},
        {"HeaderDigest", "CRC32C,None", O::Answer, "CRC32C"},
        {"DataDigest", "MD5,CRC32C", O::Answer, "CRC32C"},
        {"DataDigest", "MD5", O::Answer, "Reject"},
        {"MaxBurstLength", "1048576", O::Answer, "262144"},
        {"MaxBurstLength", "16384", O::Answer, "16384"},
        {"FirstBurstLength", "262144", O::Answer, "65536"},
        {"InitialR2T", "No", O::Answer, "No"},
        {"InitialR2T", "Yes", O::Answer, "Yes"},
        {"ImmediateData", "No", O::Answer, "No"},
        {"DataPDUInOrder", "No", O::Answer, "Yes"},
        {"DataSequenceInOrder", "No", O::Answer, "Yes"},
        {"MaxOutstandingR2T", "16", O::Answer, "1"},
        {"ErrorRecoveryLevel", "2", O::Answer, "0"},
        {"MaxConnections", "8", O::Answer, "1"},
        {"DefaultTime2Wait", "0", O::Answer, "2"},
        {"DefaultTime2Wait", "5", O::Answer, "5"},
        {"DefaultTime2Retain", "20", O::Answer, "0"},
        {"MaxRecvDataSegmentLength", "262144", O::Declared, ""},
        {"MaxRecvDataSegmentLength", "511", O::Refused, ""},
        {"MaxRecvDataSegmentLength", "16777215", O::Declared, ""},
        {"MaxRecvDataSegmentLength", "16777216", O::Refused, ""},
        {"MaxBurstLength", "many", O::Refused, ""},
        {"InitialR2T", "Maybe", O::Refused, ""},
        {"MaxConnections", "0", O::Refused, ""},
        {"X-com.example.Key", "1", O::NotHandled, ""},
    };
    for (const Case& c : cases) {
        SessionParameters p;
        std::string answer;
        EXPECT_EQ(p.Negotiate(c.key, c.offer, answer), c.outcome) << c.key << "=" << c.offer;
        if (c.outcome == O::Answer) {
            EXPECT_EQ(answer, c.answer) << c.key << "=" << c.offer;
        }
    }
    SessionParameters p;
    std::string answer;
    p.Negotiate("MaxRecvDataSegmentLength", "4096", answer);
    p.Negotiate("HeaderDigest", "CRC32C", answer);
    EXPECT_EQ(p.initiatorMaxRecvDataSegment, 4096u);
    EXPECT_TRUE(p.headerDigest);
    EXPECT_FALSE(p.dataDigest);
}

TEST(CdbShapeTest, LengthFollowsTheOpcodeGroup) {
    const struct { uint8_t opcode; uint32_t length; } cases[] = {
        {0x00, 6}, {0x12, 6}, {0x1F, 6}, {0x25, 10}, {0x3B, 10}, {0x5A, 10},
        {0x7F, 16}, {0x88, 16}, {0xA0, 12}, {0xBF, 12}, {0xC0, 16}, {0xFF, 16},
    };
    for (const auto& c : cases) EXPECT_EQ(CdbShape::Length(c.opcode), c.length) << std::hex << int(c.opcode);
}

TEST(CdbShapeTest, TransferLengthWhereTheCommandDefinesOne) {
    const struct { Bytes cdb; bool known; uint32_t length; } cases[] = {
        {{0x12, 0x01, 0x83, 0x01, 0x02, 0x00}, true, 0x102},
        {{0x03, 0, 0, 0, 18, 0}, true, 18},
        {{0x1A, 0, 0x3F, 0, 0xFF, 0}, true, 255},
        {{0x5A, 0, 0x3F, 0, 0, 0, 0, 0x01, 0x00, 0}, true, 256},
        {{0x3B, 0x07, 0x01, 0x00, 0x40, 0x00, 0x01, 0x40, 0x00, 0x00}, true, 0x14000},
        {{0x3C, 0x02, 0, 0, 0, 0, 0, 0x40, 0x00, 0x00}, true, 0x4000},
        {{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true, 8},
        {{0xA0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x10, 0x00, 0, 0}, true, 0x1000},
        {{0x28, 0, 0, 0, 0, 0, 0, 0x01, 0x02, 0}, true, 0x102 * 2048},
        {{0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0},
    };
    for (const auto& c : cases) {
        Bytes cdb = c.cdb;
        cdb.resize(16, 0);
        uint32_t length = 0xDEAD;
        EXPECT_EQ(CdbShape::TransferLength(cdb.data(), length), c.known) << std::hex << int(cdb[0]);
        if (c.known) {
            EXPECT_EQ(length, c.length) << std::hex << int(cdb[0]);
        }
    }
}

}  // namespace
