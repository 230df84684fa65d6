#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "emulator/iscsi/IscsiConnection.h"
#include "emulator/iscsi/IscsiTargetSet.h"
#include "emulator/iscsi/Pdu.h"
#include "emulator/iscsi/PduReader.h"
#include "emulator/iscsi/TextKeys.h"

// What the session tests share: a scripted initiator that speaks to one IscsiConnection in bytes,
// and a target set of two in-memory drives.
namespace iscsitest {

using emulator::DriveConfig;
using emulator::EmulatedDrive;
using emulator::IscsiConnection;
using emulator::IscsiTargetSet;
using emulator::Pdu;
using emulator::PduReader;
using emulator::TextKeys;
using Bytes = std::vector<uint8_t>;
using Keys = std::vector<std::pair<std::string, std::string>>;


inline const char* const Drive0 = "iqn.2025-01.test.flashupgrade:drive0";
inline const char* const Drive1 = "iqn.2025-01.test.flashupgrade:drive1";

// Login flags: transit, stages.
constexpr uint8_t Transit = 0x80;
constexpr uint8_t Continue = 0x40;
inline uint8_t Stages(uint8_t csg, uint8_t nsg) { return static_cast<uint8_t>((csg << 2) | nsg); }

// A scripted initiator on one connection.
class Initiator {
public:
    Initiator(IscsiTargetSet& targets, uint32_t number = 1, uint8_t isidLast = 1)
        : connection(targets, number, "127.0.0.1:3260"), isidLast_(isidLast) {}

    IscsiConnection connection;
    uint32_t cmdSn = 1;
    uint32_t itt = 0x100;
    bool headerDigest = false;
    bool dataDigest = false;

    std::vector<Pdu> Send(Pdu pdu) {
        Bytes wire;
        pdu.Encode(headerDigest, dataDigest, wire);
        return SendBytes(wire);
    }
    std::vector<Pdu> SendBytes(const Bytes& wire) {
        connection.Receive(wire.data(), wire.size());
        return Collect();
    }
    std::vector<Pdu> Collect() {
        std::vector<Pdu> got;
        Bytes& out = connection.Output();
        reader_.Feed(out.data(), out.size());
        out.clear();
        Pdu pdu;
        while (reader_.Next(pdu) == PduReader::Result::Complete) got.push_back(pdu);
        return got;
    }

    Pdu LoginPdu(uint8_t flags, const Keys& keys) {
        Pdu p = Pdu::Make(0x40 | Pdu::LoginRequest, flags);
        const uint8_t isid[6] = {0x80, 0x12, 0x34, 0x56, 0x00, isidLast_};
        memcpy(p.header + 8, isid, 6);
        p.Put32(16, itt);
        p.Put32(24, cmdSn);
        for (const auto& k : keys) TextKeys::Append(p.data, k.first, k.second);
        return p;
    }

    // One operational stage straight to the full feature phase; the reader follows the digests.
    Pdu Login(const char* target, const Keys& offers = {}) {
        Keys keys = {{"InitiatorName", "iqn.2025-01.test:initiator"}, {"SessionType", target ? "Normal" : "Discovery"}};
        if (target != nullptr) keys.push_back({"TargetName", target});
        keys.insert(keys.end(), offers.begin(), offers.end());
        const std::vector<Pdu> r = Send(LoginPdu(Transit | Stages(1, 3), keys));
        EXPECT_EQ(r.size(), 1u);
        if (r.empty()) return Pdu();
        headerDigest = connection.Parameters().headerDigest;
        dataDigest = connection.Parameters().dataDigest;
        reader_.SetDigests(headerDigest, dataDigest);
        reader_.SetMaxDataSegment(1u << 24);
        return r[0];
    }

    Pdu Command(uint8_t flags, const Bytes& cdb, uint32_t expected, const Bytes& immediate = {}) {
        Pdu p = Pdu::Make(Pdu::ScsiCommand, flags);
        p.Put32(16, ++itt);
        p.Put32(20, expected);
        p.Put32(24, cmdSn++);
        memcpy(p.header + 32, cdb.data(), cdb.size());
        p.data = immediate;
        return p;
    }

    Pdu DataOut(uint32_t ttt, uint32_t dataSn, uint32_t offset, const Bytes& data, bool final) {
        Pdu p = Pdu::Make(Pdu::DataOut, final ? 0x80 : 0x00);
        p.Put32(16, itt);
        p.Put32(20, ttt);
        p.Put32(36, dataSn);
        p.Put32(40, offset);
        p.data = data;
        return p;
    }

private:
    PduReader reader_;
    uint8_t isidLast_;
};

inline std::string KeyText(const Bytes& data) {
    std::string s;
    for (uint8_t b : data) s += b == 0 ? '|' : static_cast<char>(b);
    return s;
}

class SessionTest : public ::testing::Test {
protected:
    SessionTest() {
        DriveConfig c;
        c.SetSerial("SERIAL0");
        targets.AddInMemory(Drive0, c);
        c.SetVendor("OTHERMKR");
        targets.AddInMemory(Drive1, c);
        for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    emulator::EmulatedDriveFile& DriveOf(size_t i) { return *targets.Targets()[i]->Drive; }

    IscsiTargetSet targets;
    Bytes chunk = Bytes(0x4000);
};

inline const Bytes WriteChunkCdb = {0x3B, 0x07, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00};
inline const Bytes ReadBackCdb = {0x3C, 0x02, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00};
inline const Bytes TurCdb = {0x00, 0, 0, 0, 0, 0};

inline std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace iscsitest
